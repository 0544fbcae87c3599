#include "platform/script.h"

#include <cstdio>
#include <cstring>

#include "platform/window.h"

namespace {

constexpr uint32_t FRAME_LIMIT = 100000000;  // frames beyond this are a typing error
constexpr int32_t MOVE_LIMIT = 1000000;      // pixels of one mouse move
constexpr uint32_t SIZE_LIMIT = 8192;         // pixels of the window's side
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

using Token = ScriptToken;

bool is(const Token& t, const char* word) {
    return t.length == std::strlen(word) && std::memcmp(t.text, word, t.length) == 0;
}

char lower(char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; }
bool digit(char c) { return c >= '0' && c <= '9'; }
bool blank(char c) { return c == ' ' || c == '\t' || c == '\r'; }

// An optional sign, then digits; at most limit either way.
bool parse_signed(const Token& t, int32_t limit, int32_t* out) {
    Token digits = t;
    bool negative = false;
    if (t.length > 0 && (t.text[0] == '-' || t.text[0] == '+')) {
        negative = t.text[0] == '-';
        digits = Token{t.text + 1, t.length - 1};
    }
    uint32_t v = 0;
    if (!script_parse_count(digits, static_cast<uint32_t>(limit), &v)) return false;
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

// Quotes at most 32 bytes of a token into a message.
void quote(char* out, size_t size, const Token& t) {
    std::snprintf(out, size, "\"%.*s%s\"", static_cast<int>(t.length > 32 ? 32 : t.length), t.text,
                  t.length > 32 ? "..." : "");
}

// ---- The verbs of events: each fills the event from its arguments, or says what is wrong
// (left empty, the verb's usage is shown).

bool key_event(ScriptEvent* e, const Token* args, char* why) {
    e->a = script_key_code(args[0].text, args[0].length);
    if (e->a != 0) return true;
    char word[48];
    quote(word, sizeof word, args[0]);
    std::snprintf(why, SCRIPT_WHY_SIZE, "unknown key %s", word);
    return false;
}

bool mouse_event(ScriptEvent* e, const Token* args, char*) {
    return parse_signed(args[0], MOVE_LIMIT, &e->a) && parse_signed(args[1], MOVE_LIMIT, &e->b);
}

bool button_event(ScriptEvent* e, const Token* args, char*) {
    e->a = is(args[0], "left") ? MOUSE_LEFT
         : is(args[0], "right") ? MOUSE_RIGHT
         : is(args[0], "middle") ? MOUSE_MIDDLE : 0;
    e->b = is(args[1], "down") ? 1 : 0;
    return e->a != 0 && (e->b == 1 || is(args[1], "up"));
}

bool wheel_event(ScriptEvent* e, const Token* args, char*) {
    return parse_signed(args[0], MOVE_LIMIT, &e->a) && e->a != 0;
}

bool shot_event(ScriptEvent* e, const Token* args, char*) {
    const Token& t = args[0];
    if (t.length == 0 || t.length >= SCRIPT_NAME_SIZE || t.text[0] == '.') return false;
    for (size_t i = 0; i < t.length; i++) {
        const char c = lower(t.text[i]);
        if (!(digit(c) || (c >= 'a' && c <= 'z') || c == '_' || c == '-' || c == '.')) return false;
    }
    std::memcpy(e->name, t.text, t.length);
    e->name[t.length] = '\0';
    return true;
}

bool step_event(ScriptEvent* e, const Token* args, char*) {
    return parse_seconds(args[0], &e->seconds);
}

bool quit_event(ScriptEvent*, const Token*, char*) { return true; }

struct EventVerb {
    const char* name;
    ScriptVerb verb;
    size_t arguments;
    bool (*parse)(ScriptEvent* e, const Token* args, char* why);
    const char* usage;
};

constexpr EventVerb EVENT_VERBS[] = {
    {"down", ScriptVerb::down, 1, key_event, "down KEY"},
    {"up", ScriptVerb::up, 1, key_event, "up KEY"},
    {"mouse", ScriptVerb::mouse, 2, mouse_event, "mouse DX DY"},
    {"button", ScriptVerb::button, 2, button_event, "button left|right|middle down|up"},
    {"wheel", ScriptVerb::wheel, 1, wheel_event, "wheel +1|-1"},
    {"shot", ScriptVerb::shot, 1, shot_event, "shot NAME (letters, digits, _ - .)"},
    {"step", ScriptVerb::step, 1, step_event, "step SECONDS (above 0, at most 10)"},
    {"quit", ScriptVerb::quit, 0, quit_event, "quit"},
};

// ---- This layer's own settings, in the shape of the caller's (out is the Script).

bool size_setting(const Token* args, size_t count, void* out, char why[SCRIPT_WHY_SIZE]) {
    uint32_t w = 0, h = 0;
    if (count != 2 || !script_parse_count(args[0], SIZE_LIMIT, &w) ||
        !script_parse_count(args[1], SIZE_LIMIT, &h) || w == 0 || h == 0) {
        std::snprintf(why, SCRIPT_WHY_SIZE, "expected \"size W H\" (1 to %u pixels)", SIZE_LIMIT);
        return false;
    }
    static_cast<Script*>(out)->width = static_cast<int>(w);
    static_cast<Script*>(out)->height = static_cast<int>(h);
    return true;
}

bool clock_setting(const Token* args, size_t count, void* out, char why[SCRIPT_WHY_SIZE]) {
    if (count != 1 || !is(args[0], "real")) {
        std::snprintf(why, SCRIPT_WHY_SIZE, "expected \"clock real\"");
        return false;
    }
    static_cast<Script*>(out)->profile_clock_real = true;
    return true;
}

constexpr size_t OWN_SETTINGS = 2;

struct Parser {
    Script* script;
    ScriptSetting own[OWN_SETTINGS];
    const ScriptSetting* settings;  // the caller's
    size_t setting_count;
    bool seen[OWN_SETTINGS + SCRIPT_SETTINGS_MAX];  // own first, then the caller's
    bool quit_seen;
};

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

// The setting of that verb, its place in seen, or null.
const ScriptSetting* find_setting(const Parser& p, const Token& verb, size_t* index) {
    for (size_t i = 0; i < OWN_SETTINGS + p.setting_count; i++) {
        const ScriptSetting& s = i < OWN_SETTINGS ? p.own[i] : p.settings[i - OWN_SETTINGS];
        if (!is(verb, s.verb)) continue;
        *index = i;
        return &s;
    }
    return nullptr;
}

bool parse_setting(Parser* p, uint32_t frame, const ScriptSetting& s, size_t index,
                   const Token* args, size_t count, char* why) {
    if (frame != 0 || p->seen[index]) {
        std::snprintf(why, SCRIPT_WHY_SIZE, "%s is set once, at frame 0", s.verb);
        return false;
    }
    why[0] = '\0';
    if (count > SCRIPT_ARGUMENTS_MAX || !s.parse(args, count, s.out, why)) {
        if (why[0] == '\0') std::snprintf(why, SCRIPT_WHY_SIZE, "bad arguments to %s", s.verb);
        return false;
    }
    p->seen[index] = true;
    return true;
}

bool parse_event(Parser* p, uint32_t frame, const EventVerb& v, const Token* args,
                 size_t count, char* why) {
    ScriptEvent e{};
    e.frame = frame;
    e.verb = v.verb;
    why[0] = '\0';
    if (count != v.arguments || !v.parse(&e, args, why)) {
        if (count != v.arguments || why[0] == '\0') {
            std::snprintf(why, SCRIPT_WHY_SIZE, "expected \"%s\"", v.usage);
        }
        return false;
    }
    Script* script = p->script;
    DynArray_push_value(&script->events, e);
    if (!p->quit_seen) script->last_frame = frame;
    if (v.verb == ScriptVerb::quit) p->quit_seen = true;
    return true;
}

// Parses one line into the script; false with the message (without its line number) in why.
bool parse_line(Parser* p, const char* line, size_t length, char* why) {
    Token tokens[2 + SCRIPT_ARGUMENTS_MAX];
    const size_t n = split(line, length, tokens, 2 + SCRIPT_ARGUMENTS_MAX);
    if (n == 0) return true;
    char word[48];
    uint32_t frame = 0;
    if (!script_parse_count(tokens[0], FRAME_LIMIT, &frame)) {
        quote(word, sizeof word, tokens[0]);
        std::snprintf(why, SCRIPT_WHY_SIZE, "%s is not a frame number", word);
        return false;
    }
    if (n == 1) {
        std::snprintf(why, SCRIPT_WHY_SIZE, "a verb must follow the frame number");
        return false;
    }
    const Script* script = p->script;
    const uint32_t previous = script->events.count
        ? DynArray_at<ScriptEvent>(&script->events, script->events.count - 1).frame
        : 0;
    if (frame < previous) {
        std::snprintf(why, SCRIPT_WHY_SIZE, "frame %u comes after frame %u", frame, previous);
        return false;
    }
    if (p->quit_seen && frame > script->last_frame) {
        std::snprintf(why, SCRIPT_WHY_SIZE, "frame %u comes after the quit of frame %u", frame,
                      script->last_frame);
        return false;
    }
    const size_t count = n - 2;  // SCRIPT_ARGUMENTS_MAX + 1: too many
    for (const EventVerb& v : EVENT_VERBS) {
        if (is(tokens[1], v.name)) return parse_event(p, frame, v, tokens + 2, count, why);
    }
    size_t index = 0;
    if (const ScriptSetting* s = find_setting(*p, tokens[1], &index)) {
        return parse_setting(p, frame, *s, index, tokens + 2, count, why);
    }
    quote(word, sizeof word, tokens[1]);
    std::snprintf(why, SCRIPT_WHY_SIZE, "unknown verb %s", word);
    return false;
}

}  // namespace

bool script_parse_count(const ScriptToken& t, uint32_t limit, uint32_t* out) {
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

int script_parse(const char* text, size_t size, Script* script, char error[SCRIPT_ERROR_SIZE],
                 const ScriptSetting* settings, size_t setting_count) {
    DynArray_init_of<ScriptEvent>(&script->events);
    script->width = SCRIPT_DEFAULT_WIDTH;
    script->height = SCRIPT_DEFAULT_HEIGHT;
    script->last_frame = 0;
    script->profile_clock_real = false;
    error[0] = '\0';
    Parser p{script, {{"size", size_setting, script}, {"clock", clock_setting, script}},
             settings, setting_count < SCRIPT_SETTINGS_MAX ? setting_count : SCRIPT_SETTINGS_MAX,
             {}, false};
    size_t start = 0;
    for (int number = 1; start < size; number++) {
        const void* newline = std::memchr(text + start, '\n', size - start);
        const size_t end = newline ? static_cast<size_t>(static_cast<const char*>(newline) - text)
                                   : size;
        char why[SCRIPT_WHY_SIZE];
        if (!parse_line(&p, text + start, end - start, why)) {
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
