#include "client/automation/ScriptParser.h"

#include <array>
#include <cstring>

namespace {

enum class Arg { Word, Number, SignedNumber, Control, List, Text, Date, Bit, Key };

struct Syntax {
    const char* name;
    std::vector<Arg> required;
    std::vector<Arg> optional; // at most one optional argument
};

const std::vector<Syntax>& syntaxes() {
    static const std::vector<Syntax> all{
        {"open", {Arg::Number}, {}},
        {"dump", {}, {Arg::Text}},
        {"shot", {Arg::Text}, {}},
        {"key", {Arg::Key}, {Arg::Control}},
        {"type", {Arg::Control, Arg::Text}, {}},
        {"clear", {Arg::Control}, {}},
        {"focus", {Arg::Control}, {}},
        {"click", {Arg::Control}, {}},
        {"pick", {Arg::Control, Arg::Text}, {}},
        {"check", {Arg::Control, Arg::Word, Arg::Bit}, {}},
        {"date", {Arg::Control, Arg::Date}, {}},
        {"row", {Arg::List, Arg::Number}, {}},
        {"dblclick", {Arg::List, Arg::Number}, {}},
        {"header", {Arg::List, Arg::Number}, {}},
        {"export", {Arg::List, Arg::Text}, {}},
        {"tab", {Arg::Number}, {}},
        {"drag", {Arg::Control, Arg::SignedNumber}, {}},
        {"resize", {Arg::Number, Arg::Number}, {}},
        {"maximize", {}, {}},
        {"minimize", {}, {}},
        {"restore", {}, {}},
        {"ok", {}, {}},
        {"cancel", {}, {}},
        {"wait", {Arg::Number}, {}},
    };
    return all;
}

bool isBlank(char c) {
    return c == ' ' || c == '\t' || c == '\r';
}

bool allDigits(const std::string& text, std::size_t from = 0) {
    if (text.size() <= from || text.size() - from > 9)
        return false;
    for (std::size_t i = from; i < text.size(); ++i)
        if (text[i] < '0' || text[i] > '9')
            return false;
    return true;
}

bool isDate(const std::string& text) {
    if (text.size() != 10 || text[4] != '-' || text[7] != '-')
        return false;
    for (const std::size_t i : {0u, 1u, 2u, 3u, 5u, 6u, 8u, 9u})
        if (text[i] < '0' || text[i] > '9')
            return false;
    const int month = (text[5] - '0') * 10 + (text[6] - '0');
    const int day = (text[8] - '0') * 10 + (text[9] - '0');
    return month >= 1 && month <= 12 && day >= 1 && day <= 31;
}

// A single character, possibly multi-byte UTF-8.
bool isOneCharacter(const std::string& text) {
    if (text.empty())
        return false;
    const auto lead = static_cast<unsigned char>(text[0]);
    const std::size_t length = lead < 0x80 ? 1 : lead >= 0xF0 ? 4 : lead >= 0xE0 ? 3 : lead >= 0xC0 ? 2 : 0;
    return length == text.size();
}

const char* describe(Arg kind) {
    switch (kind) {
    case Arg::Word:
        return "a word";
    case Arg::Number:
        return "a number";
    case Arg::SignedNumber:
        return "a signed number";
    case Arg::Control:
        return "a control ID or L0..L5";
    case Arg::List:
        return "L0..L5 or a list's control ID";
    case Arg::Text:
        return "a text";
    case Arg::Date:
        return "a date YYYY-MM-DD";
    case Arg::Bit:
        return "0 or 1";
    case Arg::Key:
        return "a key (F1..F12, Enter, Escape, Tab, Up, Down, Left, Right, Home, End, PageUp, PageDown, "
               "Backspace, Space, Delete or one character, after Ctrl+, Alt+ or Shift+ if held)";
    }
    return "?";
}

bool accepts(Arg kind, const std::string& word) {
    switch (kind) {
    case Arg::Word:
    case Arg::Text:
        return !word.empty();
    case Arg::Number:
        return allDigits(word);
    case Arg::SignedNumber:
        return allDigits(word, word.size() > 1 && (word[0] == '-' || word[0] == '+') ? 1 : 0);
    case Arg::Control:
    case Arg::List:
        return IsControlRef(word);
    case Arg::Date:
        return isDate(word);
    case Arg::Bit:
        return word == "0" || word == "1";
    case Arg::Key:
        return ParseKeyChord(word).has_value();
    }
    return false;
}

// The rest of the line from pos, blanks around it trimmed, one pair of surrounding quotes dropped.
std::string restOfLine(const std::string& text, std::size_t pos) {
    while (pos < text.size() && isBlank(text[pos]))
        ++pos;
    std::size_t end = text.size();
    while (end > pos && isBlank(text[end - 1]))
        --end;
    std::string rest = text.substr(pos, end - pos);
    if (rest.size() >= 2 && rest.front() == '"' && rest.back() == '"')
        rest = rest.substr(1, rest.size() - 2);
    return rest;
}

} // namespace

bool IsNamedKey(const std::string& name) {
    static const std::array<const char*, 14> named{"Enter",    "Escape",    "Tab",   "Up",    "Down",
                                                   "Left",     "Right",     "Home",  "End",   "PageUp",
                                                   "PageDown", "Backspace", "Space", "Delete"};
    for (const char* key : named)
        if (name == key)
            return true;
    if (name.size() >= 2 && name[0] == 'F' && allDigits(name, 1)) {
        const int number = std::stoi(name.substr(1));
        return number >= 1 && number <= 12;
    }
    return false;
}

std::optional<KeyChord> ParseKeyChord(const std::string& text) {
    KeyChord chord;
    std::string rest = text;
    for (;;) {
        const std::size_t plus = rest.find('+');
        if (plus == std::string::npos || plus == 0 || plus + 1 == rest.size())
            break; // "+" alone, or a name that ends in it, is the character itself
        const std::string modifier = rest.substr(0, plus);
        bool* held = modifier == "Ctrl"    ? &chord.ctrl
                     : modifier == "Alt"   ? &chord.alt
                     : modifier == "Shift" ? &chord.shift
                                           : nullptr;
        if (!held || *held)
            return std::nullopt;
        *held = true;
        rest = rest.substr(plus + 1);
    }
    if (!IsNamedKey(rest) && !isOneCharacter(rest))
        return std::nullopt;
    chord.key = rest;
    return chord;
}

bool IsControlRef(const std::string& text) {
    if (text.size() == 2 && text[0] == 'L' && text[1] >= '0' && text[1] <= '5')
        return true;
    if (text == "filter") // the query window's find field
        return true;
    return allDigits(text) && text.size() <= 5;
}

std::optional<ScriptCommand> ParseScriptLine(const std::string& text, int line,
                                             std::optional<ScriptError>& error) {
    error.reset();
    std::size_t pos = 0;
    while (pos < text.size() && isBlank(text[pos]))
        ++pos;
    if (pos == text.size() || text[pos] == '#')
        return std::nullopt;

    const auto nextWord = [&]() {
        while (pos < text.size() && isBlank(text[pos]))
            ++pos;
        const std::size_t start = pos;
        if (pos < text.size() && text[pos] == '"') { // a quoted word ("key \" \"" presses the blank)
            const std::size_t close = text.find('"', pos + 1);
            if (close != std::string::npos) {
                pos = close + 1;
                return text.substr(start + 1, close - start - 1);
            }
        }
        while (pos < text.size() && !isBlank(text[pos]))
            ++pos;
        return text.substr(start, pos - start);
    };

    ScriptCommand command;
    command.line = line;
    command.name = nextWord();
    const Syntax* syntax = nullptr;
    for (const Syntax& candidate : syntaxes())
        if (command.name == candidate.name)
            syntax = &candidate;
    if (!syntax) {
        error = ScriptError{line, "unknown command '" + command.name + "'"};
        return std::nullopt;
    }

    std::vector<Arg> expected = syntax->required;
    expected.insert(expected.end(), syntax->optional.begin(), syntax->optional.end());
    for (std::size_t i = 0; i < expected.size(); ++i) {
        const bool last = i + 1 == expected.size();
        std::string word = expected[i] == Arg::Text && last ? restOfLine(text, pos) : nextWord();
        if (expected[i] == Arg::Text && last)
            pos = text.size();
        if (word.empty()) {
            if (i >= syntax->required.size())
                break;
            error = ScriptError{line, command.name + ": missing " + describe(expected[i])};
            return std::nullopt;
        }
        if (!accepts(expected[i], word)) {
            error = ScriptError{line, command.name + ": '" + word + "' is not " + describe(expected[i])};
            return std::nullopt;
        }
        command.args.push_back(std::move(word));
    }
    while (pos < text.size() && isBlank(text[pos]))
        ++pos;
    if (pos < text.size()) {
        error = ScriptError{line, command.name + ": unexpected '" + text.substr(pos) + "'"};
        return std::nullopt;
    }
    return command;
}

bool ParseScript(std::istream& in, std::vector<ScriptCommand>& commands, ScriptError& error) {
    std::string text;
    int line = 0;
    std::optional<ScriptError> lineError;
    while (std::getline(in, text)) {
        ++line;
        if (auto command = ParseScriptLine(text, line, lineError))
            commands.push_back(std::move(*command));
        else if (lineError) {
            error = *lineError;
            return false;
        }
    }
    return true;
}
