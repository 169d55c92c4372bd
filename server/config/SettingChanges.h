// What a reload changes: the settings a running server takes over, and those that wait for a restart.
#pragma once

#include "server/config/ServerSettings.h"

#include <string>
#include <vector>

namespace orvo::server::config {

struct SettingChanges {
    std::vector<std::string> applied;     // "max-connections 32 -> 64", taken over while serving
    std::vector<std::string> needRestart; // "db", changed in the file but kept until the next start
};

SettingChanges compareSettings(const Settings& running, const Settings& fresh);

} // namespace orvo::server::config
