// The automation script: one command a line, words separated by blanks, a TEXT argument is the rest of
// the line (its surrounding double quotes dropped), '#' starts a comment line. Parsing checks each
// line's shape, so a malformed script fails before it touches a window.
#pragma once

#include <istream>
#include <optional>
#include <string>
#include <vector>

struct ScriptCommand {
    int line = 0;                  // 1-based line of the script
    std::string name;              // "open", "dump", "key", ...
    std::vector<std::string> args; // as written (TEXT with its quotes dropped)
};

struct ScriptError {
    int line = 0;
    std::string reason;
};

// Parses one line; nothing for blank and comment lines. A malformed line sets error.
std::optional<ScriptCommand> ParseScriptLine(const std::string& text, int line,
                                             std::optional<ScriptError>& error);

// Parses a whole script; stops at the first malformed line.
bool ParseScript(std::istream& in, std::vector<ScriptCommand>& commands, ScriptError& error);

// Names of the keys that "key" accepts besides a single character.
bool IsNamedKey(const std::string& name);

// A key as "key" takes it: modifiers joined by '+' before a named key or one character ("Enter", "x",
// "Ctrl+C", "Alt+Down", "Shift+Tab", "Ctrl+Shift+End").
struct KeyChord {
    std::string key; // a named key or one character
    bool ctrl = false;
    bool alt = false;
    bool shift = false;
};
std::optional<KeyChord> ParseKeyChord(const std::string& text);

// A control reference: a number (control ID) or L0..L5 (the rule list of that tab).
bool IsControlRef(const std::string& text);
