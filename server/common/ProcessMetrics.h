// The process_* metrics of the Prometheus conventions, read from /proc when the page is written:
// CPU time, resident and virtual memory, open and allowed descriptors, start time.
#pragma once

#include <string>

namespace orvo::server {

std::string renderProcessMetrics();

} // namespace orvo::server
