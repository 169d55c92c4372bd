// The OPTIONS section of the manual page, written in roff from the same CLI11 table as --help, so the
// page never lists fewer options, or other texts, than the program accepts.
#pragma once

#include <CLI/CLI.hpp>

#include <string>
#include <string_view>

namespace orvo::server::config {

// Text made safe for a roff line: backslashes and dashes escaped, a leading control character defused.
std::string roffText(std::string_view text);

// One ".TP" entry per option of the app (subcommands excluded, options without a name in --help
// skipped): names in bold, the value's name in italics, the help text, and the accepted values or range
// when the option checks them.
std::string manOptions(const CLI::App& app);

} // namespace orvo::server::config
