#include "server/config/ManPage.h"

namespace orvo::server::config {
namespace {

// CLI11 names a value "INT:INT in [1 - 1000]" or "TEXT:{small,large}": the type, then what its check
// accepts. The man page shows the set as the value's name and the range in the text.
struct ValueName {
    std::string shown;    // e.g. "INT", "small|large"
    std::string accepted; // e.g. "1 to 1000"; empty: no range
};

ValueName valueNameOf(const std::string& typeName) {
    ValueName value;
    const std::size_t colon = typeName.find(':');
    value.shown = typeName.substr(0, colon);
    if (colon == std::string::npos)
        return value;
    const std::string check = typeName.substr(colon + 1);
    const std::size_t open = check.find('{'), close = check.rfind('}');
    if (open != std::string::npos && close != std::string::npos && close > open) {
        value.shown = check.substr(open + 1, close - open - 1);
        for (char& c : value.shown)
            c = c == ',' ? '|' : c;
        return value;
    }
    const std::size_t from = check.find(" in ["), dash = check.find(" - "), end = check.rfind(']');
    if (from != std::string::npos && dash != std::string::npos && end != std::string::npos && dash > from)
        value.accepted =
            check.substr(from + 5, dash - from - 5) + " to " + check.substr(dash + 3, end - dash - 3);
    return value;
}

std::string optionNames(const CLI::Option& option) {
    std::string names;
    for (const std::string& name : option.get_snames())
        names += (names.empty() ? "" : ", ") + ("\\fB\\-" + roffText(name) + "\\fR");
    for (const std::string& name : option.get_lnames())
        names += (names.empty() ? "" : ", ") + ("\\fB\\-\\-" + roffText(name) + "\\fR");
    return names;
}

} // namespace

std::string roffText(std::string_view text) {
    std::string out;
    if (!text.empty() && (text.front() == '.' || text.front() == '\''))
        out += "\\&";
    for (const char c : text) {
        if (c == '\\')
            out += "\\e";
        else if (c == '-')
            out += "\\-";
        else if (c == '\n')
            out += ' ';
        else
            out += c;
    }
    return out;
}

std::string manOptions(const CLI::App& app) {
    std::string out;
    for (const CLI::Option* option : app.get_options()) {
        if (option->get_group().empty() || (option->get_lnames().empty() && option->get_snames().empty()))
            continue; // hidden, or positional
        out += ".TP\n" + optionNames(*option);
        std::string text = option->get_description();
        if (!text.empty() && text.front() >= 'a' && text.front() <= 'z')
            text.front() = static_cast<char>(text.front() - 'a' + 'A'); // a sentence on the page
        if (!option->get_type_name().empty()) {                         // a flag has no value
            const ValueName value = valueNameOf(option->get_type_name());
            out += " \\fI" + roffText(value.shown) + "\\fR";
            if (!value.accepted.empty())
                text += ". Accepted: " + value.accepted;
        }
        out += "\n" + roffText(text) + (text.empty() || text.back() == '.' ? "" : ".") + "\n";
    }
    return out;
}

} // namespace orvo::server::config
