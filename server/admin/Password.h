// Reading a new password for an operator: from a terminal, asked twice without echo; otherwise one
// line of standard input. Never from the command line, where other users could read it.
#pragma once

#include <cstdio>
#include <string>

namespace orvo::server::admin {

inline constexpr std::size_t kMaxPasswordBytes = 256; // what a login request may carry

bool readNewPassword(std::FILE* in, const std::string& name, std::string& password, std::string& error);

} // namespace orvo::server::admin
