#include "platform/script.h"

#include <chrono>
#include <cstdio>
#include <cstring>

#include "platform/profile.h"
#include "platform/window.h"

namespace {

constexpr uint32_t FRAME_LIMIT = 100000000;  // frames beyond this are a typing error
constexpr int32_t MOVE_LIMIT = 1000000;      // pixels of one mouse move
constexpr int SIZE_LIMIT = 8192;              // pixels of the window's side
constexpr double STEP_DEFAULT = 1.0 / 60.0;
constexpr double STEP_LIMIT = 10.0;

struct KeyName {
    const char* name;
    int code;
};

constexpr KeyName KEY_NAMES[] = {
    {"ctrl", KEY_CONTROL}, {"shift", KEY_SHIFT},  {"alt", KEY_MENU},     {"space", KEY_SPACE},
    {"esc", KEY_ESCAPE},   {"return", KEY_RETURN}, {"tab", KEY_TAB},      {"back", KEY_BACK},
    {"pageup", 0x21},      {"pagedown", 0x22},     {"left", 0x25},        {"up", 0x26},
    {"right", 0x27},       {"down", 0x28},
};

// A piece of a line between blanks.
struct Token {
    const char* text;
    size_t length;
};

bool is(const Token& t, const char* word) {
    return t.length == std::strlen(word) && std::memcmp(t.text, word, t.length) == 0;
}

char lower(char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; }
bool digit(char c) { return c >= '0' && c <= '9'; }
bool blank(char c) { return c == ' ' || c == '\t' || c == '\r'; }

// Digits only, at most limit.
bool parse_count(const Token& t, uint32_t limit, uint32_t* out) {
    if (t.length == 0 || t.length > 10) return false;
    uint64_t v = 0;
    for (size_t i = 0; i < t.length; i++) {
        if (!digit(t.text[i])) return false;
        v = v * 10 + static_cast<uint64_t>(t.text[i] - '0');
    }
    if (v > limit) return false;
    *out = static_cast<uint32_t>(v);
    return true;
}

// An optional sign, then digits; at most limit either way.
bool parse_signed(const Token& t, int32_t limit, int32_t* out) {
    Token digits = t;
    bool negative = false;
    if (t.length > 0 && (t.text[0] == '-' || t.text[0] == '+')) {
        negative = t.text[0] == '-';
        digits = Token{t.text + 1, t.length - 1};
    }
    uint32_t v = 0;
    if (!parse_count(digits, static_cast<uint32_t>(limit), &v)) return false;
    *out = negative ? -static_cast<int32_t>(v) : static_cast<int32_t>(v);
    return true;
}

// "D.DDD" or "N/M": one division of two exact integers, so every C runtime reads the same
// double.
bool parse_seconds(const Token& t, double* out) {
    uint64_t whole = 0, scale = 1, denominator = 0;
    size_t digits = 0;
    bool point = false, fraction = false;
    for (size_t i = 0; i < t.length; i++) {
        const char c = t.text[i];
        if (digit(c)) {
            if (++digits > 15) return false;
            if (fraction) {
                denominator = denominator * 10 + static_cast<uint64_t>(c - '0');
            } else {
                whole = whole * 10 + static_cast<uint64_t>(c - '0');
                if (point) scale *= 10;
            }
        } else if (c == '.' && !point && !fraction) {
            point = true;
        } else if (c == '/' && !point && !fraction && digits > 0) {
            fraction = true;
            digits = 0;
        } else {
            return false;
        }
    }
    if (digits == 0) return false;
    if (fraction) scale = denominator;
    if (scale == 0 || whole == 0) return false;
    *out = static_cast<double>(whole) / static_cast<double>(scale);
    return *out <= STEP_LIMIT;
}

bool parse_name(const Token& t, char out[SCRIPT_NAME_SIZE]) {
    if (t.length == 0 || t.length >= SCRIPT_NAME_SIZE || t.text[0] == '.') return false;
    for (size_t i = 0; i < t.length; i++) {
        const char c = lower(t.text[i]);
        if (!(digit(c) || (c >= 'a' && c <= 'z') || c == '_' || c == '-' || c == '.')) return false;
    }
    std::memcpy(out, t.text, t.length);
    out[t.length] = '\0';
    return true;
}

// Splits the line (comment dropped) into at most max tokens; returns their count, or max + 1
// when there are more.
size_t split(const char* line, size_t length, Token* tokens, size_t max) {
    size_t n = 0, i = 0;
    while (i < length && line[i] != '#') {
        if (blank(line[i])) {
            i++;
            continue;
        }
        const size_t start = i;
        while (i < length && !blank(line[i]) && line[i] != '#') i++;
        if (n == max) return max + 1;
        tokens[n++] = Token{line + start, i - start};
    }
    return n;
}

// The verbs, with the number of arguments each takes.
struct VerbRule {
    const char* name;
    ScriptVerb verb;
    size_t arguments;
    const char* usage;
};

constexpr VerbRule VERBS[] = {
    {"down", ScriptVerb::down, 1, "down KEY"},
    {"up", ScriptVerb::up, 1, "up KEY"},
    {"mouse", ScriptVerb::mouse, 2, "mouse DX DY"},
    {"button", ScriptVerb::button, 2, "button left|right|middle down|up"},
    {"wheel", ScriptVerb::wheel, 1, "wheel +1|-1"},
    {"shot", ScriptVerb::shot, 1, "shot NAME (letters, digits, _ - .)"},
    {"step", ScriptVerb::step, 1, "step SECONDS (above 0, at most 10)"},
    {"quit", ScriptVerb::quit, 0, "quit"},
};

// Fills the event's arguments from tokens[2..]; false when they do not fit the verb.
bool parse_arguments(ScriptEvent* e, const Token* args) {
    switch (e->verb) {
        case ScriptVerb::down:
        case ScriptVerb::up:
            e->a = script_key_code(args[0].text, args[0].length);
            return e->a != 0;
        case ScriptVerb::mouse:
            return parse_signed(args[0], MOVE_LIMIT, &e->a) &&
                   parse_signed(args[1], MOVE_LIMIT, &e->b);
        case ScriptVerb::button:
            e->a = is(args[0], "left") ? MOUSE_LEFT
                 : is(args[0], "right") ? MOUSE_RIGHT
                 : is(args[0], "middle") ? MOUSE_MIDDLE : 0;
            e->b = is(args[1], "down") ? 1 : 0;
            return e->a != 0 && (e->b == 1 || is(args[1], "up"));
        case ScriptVerb::wheel:
            return parse_signed(args[0], MOVE_LIMIT, &e->a) && e->a != 0;
        case ScriptVerb::shot:
            return parse_name(args[0], e->name);
        case ScriptVerb::step:
            return parse_seconds(args[0], &e->seconds);
        case ScriptVerb::quit:
            return true;
    }
    return false;
}

// Quotes at most 32 bytes of a token into a message.
void quote(char* out, size_t size, const Token& t) {
    std::snprintf(out, size, "\"%.*s%s\"", static_cast<int>(t.length > 32 ? 32 : t.length), t.text,
                  t.length > 32 ? "..." : "");
}

// Parses one line into the script; false with the message (without its line number) in why.
bool parse_line(const char* line, size_t length, Script* script, bool* sized, bool* quit_seen,
                char* why, size_t why_size) {
    Token tokens[5];
    const size_t n = split(line, length, tokens, 5);
    if (n == 0) return true;
    char word[48];
    uint32_t frame = 0;
    if (!parse_count(tokens[0], FRAME_LIMIT, &frame)) {
        quote(word, sizeof word, tokens[0]);
        std::snprintf(why, why_size, "%s is not a frame number", word);
        return false;
    }
    if (n == 1) {
        std::snprintf(why, why_size, "a verb must follow the frame number");
        return false;
    }
    const uint32_t previous = script->events.count
        ? DynArray_at<ScriptEvent>(&script->events, script->events.count - 1).frame
        : 0;
    if (frame < previous) {
        std::snprintf(why, why_size, "frame %u comes after frame %u", frame, previous);
        return false;
    }
    if (*quit_seen && frame > script->last_frame) {
        std::snprintf(why, why_size, "frame %u comes after the quit of frame %u", frame,
                      script->last_frame);
        return false;
    }
    if (is(tokens[1], "stress")) {
        StressRequest r{0, 0, SCRIPT_STRESS_SEED};
        if ((n != 4 && n != 5) || !parse_count(tokens[2], SCRIPT_STRESS_MAX, &r.count) ||
            !parse_count(tokens[3], SCRIPT_STRESS_DEPTH_MAX, &r.depth) ||
            (n == 5 && !parse_count(tokens[4], UINT32_MAX, &r.seed)) || r.count == 0 ||
            r.depth == 0) {
            std::snprintf(why, why_size,
                          "expected \"stress N DEPTH [SEED]\" (N 1 to %u, DEPTH 1 to %u)",
                          SCRIPT_STRESS_MAX, SCRIPT_STRESS_DEPTH_MAX);
            return false;
        }
        if (frame != 0 || script->stress.count != 0) {
            std::snprintf(why, why_size, "the stress scene is set once, at frame 0");
            return false;
        }
        script->stress = r;
        return true;
    }
    if (is(tokens[1], "clock")) {
        if (n != 3 || !is(tokens[2], "real")) {
            std::snprintf(why, why_size, "expected \"clock real\"");
            return false;
        }
        if (frame != 0 || script->real_clock) {
            std::snprintf(why, why_size, "the clock is set once, at frame 0");
            return false;
        }
        script->real_clock = true;
        return true;
    }
    if (is(tokens[1], "size")) {
        uint32_t w = 0, h = 0;
        if (n != 4 || !parse_count(tokens[2], SIZE_LIMIT, &w) ||
            !parse_count(tokens[3], SIZE_LIMIT, &h) || w == 0 || h == 0) {
            std::snprintf(why, why_size, "expected \"size W H\" (1 to %d pixels)", SIZE_LIMIT);
            return false;
        }
        if (frame != 0 || *sized) {
            std::snprintf(why, why_size, "the size is set once, at frame 0");
            return false;
        }
        script->width = static_cast<int>(w);
        script->height = static_cast<int>(h);
        *sized = true;
        return true;
    }
    for (const VerbRule& v : VERBS) {
        if (!is(tokens[1], v.name)) continue;
        ScriptEvent e{};
        e.frame = frame;
        e.verb = v.verb;
        if (n - 2 != v.arguments || !parse_arguments(&e, tokens + 2)) {
            if (n - 2 == v.arguments && (v.verb == ScriptVerb::down || v.verb == ScriptVerb::up)) {
                quote(word, sizeof word, tokens[2]);
                std::snprintf(why, why_size, "unknown key %s", word);
            } else {
                std::snprintf(why, why_size, "expected \"%s\"", v.usage);
            }
            return false;
        }
        DynArray_push_value(&script->events, e);
        if (!*quit_seen) script->last_frame = frame;
        if (v.verb == ScriptVerb::quit) *quit_seen = true;
        return true;
    }
    quote(word, sizeof word, tokens[1]);
    std::snprintf(why, why_size, "unknown verb %s", word);
    return false;
}

// ---- Playing ----

struct Player {
    const Script* script;
    uint32_t next;     // the first event not yet played
    uint32_t pumps;    // pumps so far; the frame running now is pumps - 1
    unsigned char keys[256];
    uint32_t buttons;  // mouse bits of the buttons down
    int motion_x, motion_y;
    double now, step;
    bool real;  // the clock follows the OS's from real_start on
    std::chrono::steady_clock::time_point real_start;
};

Player player;

// The profiler's clock in a run that measures real durations: seconds since the run began.
std::chrono::steady_clock::time_point measure_start;
double measured_seconds() {
    const std::chrono::duration<double> since = std::chrono::steady_clock::now() - measure_start;
    return since.count();
}

// The real window still gets its messages handled; only their input is left out.
int play_messages() {
    if (window_messages(false) == 1) return 1;
    const uint32_t frame = player.pumps++;
    if (frame > player.script->last_frame) return 1;
    // Centring the pointer at start-up is a move with no button down, as on the desktop.
    if (frame == 0) mouse_button_message(player.buttons);
    const ScriptEvent* events = DynArray_items<ScriptEvent>(&player.script->events);
    for (; player.next < player.script->events.count && events[player.next].frame == frame;
         player.next++) {
        const ScriptEvent& e = events[player.next];
        switch (e.verb) {
            case ScriptVerb::down: player.keys[e.a] = 0x80; break;
            case ScriptVerb::up: player.keys[e.a] = 0; break;
            case ScriptVerb::mouse:
                player.motion_x += e.a;
                player.motion_y += e.b;
                mouse_button_message(player.buttons);
                break;
            case ScriptVerb::button:
                player.buttons = e.b ? player.buttons | static_cast<uint32_t>(e.a)
                                     : player.buttons & ~static_cast<uint32_t>(e.a);
                mouse_button_message(player.buttons);
                break;
            case ScriptVerb::wheel: mouse_wheel_message(e.a); break;
            case ScriptVerb::step: player.step = e.seconds; break;
            case ScriptVerb::shot:
            case ScriptVerb::quit: break;
        }
    }
    if (!player.real) player.now += player.step;
    return 0;
}

// As GetKeyboardState: the mouse buttons are keys too (1 left, 2 right, 4 middle).
void play_keyboard(unsigned char out[256]) {
    std::memcpy(out, player.keys, sizeof player.keys);
    if (player.buttons & MOUSE_LEFT) out[0x01] = 0x80;
    if (player.buttons & MOUSE_RIGHT) out[0x02] = 0x80;
    if (player.buttons & MOUSE_MIDDLE) out[0x04] = 0x80;
}

void play_motion(int* dx, int* dy) {
    if (dx) *dx = player.motion_x;
    if (dy) *dy = player.motion_y;
    player.motion_x = player.motion_y = 0;
}

double play_clock() {
    if (!player.real) return player.now;
    const std::chrono::duration<double> since =
        std::chrono::steady_clock::now() - player.real_start;
    return player.now + since.count();
}

EventSource script_source = {
    play_messages, [] { return false; }, [] {}, play_keyboard, [] {}, play_motion, play_clock,
    SCRIPT_DEFAULT_WIDTH, SCRIPT_DEFAULT_HEIGHT,
};

}  // namespace

int script_key_code(const char* name, size_t length) {
    if (length == 1) {
        const char c = lower(name[0]);
        if (c >= 'a' && c <= 'z') return c - 'a' + 'A';
        if (digit(c)) return c;
        return 0;
    }
    for (const KeyName& k : KEY_NAMES) {
        if (std::strlen(k.name) != length) continue;
        size_t i = 0;
        while (i < length && lower(name[i]) == k.name[i]) i++;
        if (i == length) return k.code;
    }
    return 0;
}

int script_parse(const char* text, size_t size, Script* script, char error[SCRIPT_ERROR_SIZE]) {
    DynArray_init_of<ScriptEvent>(&script->events);
    script->width = SCRIPT_DEFAULT_WIDTH;
    script->height = SCRIPT_DEFAULT_HEIGHT;
    script->last_frame = 0;
    script->stress = StressRequest{};
    script->real_clock = false;
    error[0] = '\0';
    bool sized = false, quit_seen = false;
    size_t start = 0;
    for (int number = 1; start < size; number++) {
        const void* newline = std::memchr(text + start, '\n', size - start);
        const size_t end = newline ? static_cast<size_t>(static_cast<const char*>(newline) - text)
                                   : size;
        char why[SCRIPT_ERROR_SIZE - 24];  // room for "line N: "
        if (!parse_line(text + start, end - start, script, &sized, &quit_seen, why, sizeof why)) {
            std::snprintf(error, SCRIPT_ERROR_SIZE, "line %d: %s", number, why);
            script_free(script);
            return number;
        }
        start = end + 1;
    }
    return 0;
}

void script_free(Script* script) {
    DynArray_free(script->events);
    *script = Script{};
}

void script_play(const Script* script) {
    player = Player{};
    player.script = script;
    player.step = STEP_DEFAULT;
    script_source.fixed_width = script->width;
    script_source.fixed_height = script->height;
    event_source_use(&script_source);
    measure_start = std::chrono::steady_clock::now();
    profile_clock = script->real_clock ? measured_seconds : profile_clock_default;
}

uint32_t script_frame() { return player.pumps > 0 ? player.pumps - 1 : 0; }

void script_follow_real_clock() {
    player.now = play_clock();
    player.real = true;
    player.real_start = std::chrono::steady_clock::now();
}
