// The module's identity as the host reads it, as one line of UTF-8 JSON.
#pragma once

#include <string>

class ModuleLoader;

// Calls ModuleInit, then GetParam 1, 2, 3, 4, 5 and 8: {"1":"...","2":"...",...}.
std::string ModuleInfoJson(const ModuleLoader& module);
