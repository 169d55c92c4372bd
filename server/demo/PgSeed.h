// Preparing a PostgreSQL database for serving: the schema when missing and, on request, the demo data.
#pragma once

#include "server/demo/DemoData.h"

#include <string>

namespace orvo::server::pg {

// Creates the schema when missing; with demo set and no operators yet, seeds exactly the demo data the
// SQLite store would hold for the same options. Returns false with the reason otherwise.
bool preparePgStore(const std::string& conninfo, const DemoOptions* demo, std::string& error);

// True (and no error) when the database holds no operator, so no login can succeed.
bool pgHasNoOperators(const std::string& conninfo, bool& none, std::string& error);

} // namespace orvo::server::pg
