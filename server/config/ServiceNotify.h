// Telling the service manager how the server is doing: READY=1 once serving, RELOADING=1 and
// STOPPING=1, and the watchdog's WATCHDOG=1. The notification protocol is a datagram of "KEY=VALUE"
// lines to the socket named by $NOTIFY_SOCKET; without that variable nothing is sent.
#pragma once

#include <chrono>
#include <string_view>

namespace orvo::server::config {

// False when there is no service manager to tell, or the datagram could not be sent.
bool notifyService(std::string_view state);

// How often the service manager wants WATCHDOG=1 ($WATCHDOG_USEC, for this process when $WATCHDOG_PID
// is set); zero when it does not watch.
std::chrono::microseconds watchdogInterval();

} // namespace orvo::server::config
