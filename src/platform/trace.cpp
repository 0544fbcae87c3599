#include "platform/trace.h"

#include <cmath>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <string>
#include <system_error>

#include "platform/profile.h"

const char* const trace_name = "trace.json";

namespace {

// Bytes read back from the end: for the pids when this process starts on a file, else only
// for the closing bracket (and the end of a full trace's last event).
constexpr long PIDS_READ = 65536;
constexpr long TAIL_READ = 64;

// The last event of a trace that reached its size limit ends with its name, so that the tail
// shows it.
constexpr const char* FULL_END = "\"name\":\"trace full\"}";
// Room kept below the limit for that event.
constexpr long FULL_ROOM = 512;

std::string process_name = "zibu";
std::string pid_file;  // the file the pid was chosen for
uint32_t pid = 0;
// A file found not to be a trace, or full: left alone for the rest of the run (unless it goes).
std::string refused_file;

bool blank(char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n'; }

// Printable ASCII only: a quote and a backslash escaped, anything else replaced.
void append_string(std::string* out, const char* text) {
    out->push_back('"');
    for (const char* p = text; *p; p++) {
        const char c = *p;
        if (c == '"' || c == '\\') {
            out->push_back('\\');
            out->push_back(c);
        } else {
            out->push_back(c >= ' ' && c < 0x7F ? c : '?');
        }
    }
    out->push_back('"');
}

// Nanoseconds as microseconds with three decimals.
void append_micro(std::string* out, long long ns) {
    char text[48];
    const unsigned long long a = ns < 0 ? 0ull - static_cast<unsigned long long>(ns)
                                        : static_cast<unsigned long long>(ns);
    std::snprintf(text, sizeof text, "%s%llu.%03llu", ns < 0 ? "-" : "", a / 1000, a % 1000);
    *out += text;
}

void append_head(std::string* out, const char* name, const char* phase, long long ts) {
    *out += "{\"name\":";
    append_string(out, name);
    *out += ",\"ph\":\"";
    *out += phase;
    *out += "\",\"pid\":" + std::to_string(pid) + ",\"tid\":1,\"ts\":";
    append_micro(out, ts);
}

// The largest "pid" number in the text, 0 when there is none.
uint32_t largest_pid(const std::string& text) {
    uint32_t largest = 0;
    const std::string key = "\"pid\":";
    for (size_t at = text.find(key); at != std::string::npos; at = text.find(key, at + 1)) {
        unsigned long long v = 0;
        size_t i = at + key.size();
        while (i < text.size() && text[i] >= '0' && text[i] <= '9' && v < UINT32_MAX) {
            v = v * 10 + static_cast<unsigned long long>(text[i++] - '0');
        }
        if (v < UINT32_MAX && v > largest) largest = static_cast<uint32_t>(v);
    }
    return largest;
}

// The frame's events, each on a line of its own, separated by commas.
std::string frame_events(const DynArray* slot, double start, const TraceCounter* counters,
                         uint32_t count) {
    const ProfileMark* marks = DynArray_items<ProfileMark>(slot);
    // Section boundaries in whole nanoseconds, so that the sections tile the frame exactly.
    const long long first = std::llround(start * 1e9);
    std::string out;
    std::string sections;
    double at = start;
    long long from = first;
    for (uint32_t i = 0; i < slot->count; i++) {
        at += marks[i].time;
        const long long to = std::llround(at * 1e9);
        sections += ",\n";
        append_head(&sections, marks[i].label, "X", from);
        sections += ",\"dur\":";
        append_micro(&sections, to - from);
        sections += "}";
        from = to;
    }
    append_head(&out, "frame", "X", first);
    out += ",\"dur\":";
    append_micro(&out, from - first);
    out += "}" + sections;
    for (uint32_t i = 0; i < count; i++) {
        out += ",\n";
        append_head(&out, counters[i].name, "C", first);
        out += ",\"args\":{\"value\":" + std::to_string(counters[i].value) + "}}";
    }
    return out;
}

// Puts back the bytes from offset on as they were; a file this write made goes again.
void restore(const char* path, bool created, long offset, const std::string& old_tail) {
    std::error_code ignored;
    if (created) {
        std::filesystem::remove(path, ignored);
        return;
    }
    std::filesystem::resize_file(path, static_cast<std::uintmax_t>(offset), ignored);
    if (std::FILE* f = std::fopen(path, "r+b")) {
        if (std::fseek(f, offset, SEEK_SET) == 0) std::fwrite(old_tail.data(), 1, old_tail.size(), f);
        std::fclose(f);
    }
}

// The trace's file opened for update, with its last bytes.
struct Opened {
    std::FILE* f;
    bool created;  // by this call
    long from;     // where tail starts
    std::string tail;
};

bool open_trace(const char* path, bool new_process, Opened* o) {
    // A file that is there is only ever opened for update: never truncated.
    std::error_code missing;
    o->created = !std::filesystem::exists(path, missing) && !missing;
    o->f = std::fopen(path, o->created ? "w+b" : "r+b");
    if (!o->f) return false;
    // Unbuffered: the frame goes to the file in one write.
    std::setvbuf(o->f, nullptr, _IONBF, 0);
    long size = -1;
    if (std::fseek(o->f, 0, SEEK_END) == 0) size = std::ftell(o->f);
    const long back = new_process ? PIDS_READ : TAIL_READ;
    o->from = size > back ? size - back : 0;
    o->tail.assign(static_cast<size_t>(size > 0 ? size - o->from : 0), '\0');
    if (size >= 0 && std::fseek(o->f, o->from, SEEK_SET) == 0 &&
        std::fread(o->tail.data(), 1, o->tail.size(), o->f) == o->tail.size()) {
        return true;
    }
    std::fclose(o->f);
    return false;
}

// Where the new events go in the tail (over the closing bracket) and what comes before them;
// false when the file does not end as a trace does.
bool join_point(const Opened& o, size_t* end, std::string* text) {
    const std::string& tail = o.tail;
    *end = tail.size();
    while (*end > 0 && blank(tail[*end - 1])) --*end;
    if (*end == 0 && o.from == 0) {  // empty (or blank): a new trace
        *text = "[\n";
        return true;
    }
    if (*end == 0 || tail[*end - 1] != ']') return false;
    size_t before = --*end;  // over the bracket
    while (before > 0 && blank(tail[before - 1])) before--;
    const bool first_event = o.from == 0 && before > 0 && tail[before - 1] == '[';
    *text = first_event ? "\n" : ",\n";
    return true;
}

bool ends_full(const std::string& tail, size_t bracket) {
    size_t end = bracket;
    while (end > 0 && blank(tail[end - 1])) end--;
    const size_t n = std::strlen(FULL_END);
    return end >= n && tail.compare(end - n, n, FULL_END) == 0;
}

// The event that closes a trace at its size limit, at the time of the frame it stands for.
void append_full(std::string* out, double start, long limit) {
    *out += "{\"ph\":\"i\",\"s\":\"g\",\"pid\":" + std::to_string(pid) + ",\"tid\":1,\"ts\":";
    append_micro(out, std::llround(start * 1e9));
    *out += ",\"args\":{\"limit_bytes\":" + std::to_string(limit) +
            ",\"note\":\"no frames after this one; delete the file to start afresh\"},";
    *out += FULL_END;
}

bool write_at(Opened* o, long offset, const std::string& text) {
    bool written = std::fseek(o->f, offset, SEEK_SET) == 0 &&
                   std::fwrite(text.data(), 1, text.size(), o->f) == text.size();
    written = std::fflush(o->f) == 0 && !std::ferror(o->f) && written;
    return std::fclose(o->f) == 0 && written;
}

// A file refused earlier in this run stays refused while it is there.
bool still_refused(const char* path) {
    if (refused_file.empty() || refused_file != path) return false;
    std::error_code ignored;
    if (std::filesystem::exists(path, ignored)) return true;
    refused_file.clear();
    return false;
}

}  // namespace

void trace_set_process_name(const char* name) { process_name = name; }

bool trace_append_previous(const char* path, const TraceCounter* counters, uint32_t count,
                           long size_limit) {
    double start = 0.0;
    const DynArray* slot = profile_previous(&start);
    if (!slot || slot->count == 0) return true;
    if (still_refused(path)) return false;

    const bool new_process = pid == 0 || pid_file != path;
    Opened o{};
    if (!open_trace(path, new_process, &o)) return false;
    size_t end = 0;
    std::string text;
    if (!join_point(o, &end, &text) || ends_full(o.tail, end)) {
        std::fclose(o.f);
        refused_file = path;
        return false;
    }
    if (end == 0 && o.from == 0) pid = 0;  // a new trace
    const bool naming = new_process || pid == 0;
    if (naming) {
        pid = largest_pid(o.tail) + 1;
        pid_file = path;
        text += "{\"name\":\"process_name\",\"ph\":\"M\",\"pid\":" + std::to_string(pid) +
                ",\"tid\":1,\"args\":{\"name\":";
        append_string(&text, process_name.c_str());
        text += "}},\n";
    }
    const long offset = o.from + static_cast<long>(end);
    const std::string frame = frame_events(slot, start, counters, count);
    const bool full = offset + static_cast<long>(text.size() + frame.size()) + FULL_ROOM > size_limit;
    if (full) {
        append_full(&text, start, size_limit);
    } else {
        text += frame;
    }
    text += "\n]\n";

    if (!write_at(&o, offset, text)) {
        restore(path, o.created, offset, o.tail.substr(end));
        if (naming) pid = 0;  // the name went with the frame: named again next time
        return false;
    }
    if (full) refused_file = path;
    return !full;
}
