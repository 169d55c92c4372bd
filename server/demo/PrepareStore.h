// Opening the counter's database file: schema creation and, on request, demo data for an empty one.
#pragma once

#include "server/demo/DemoData.h"

#include <string>

namespace orvo::server {

// Creates the schema when missing; with demo set and no data yet, seeds the demo data. Returns false
// with the reason when the file cannot be opened or holds another schema.
bool prepareStore(const std::string& path, const DemoOptions* demo, std::string& error);

} // namespace orvo::server
