// Which worker pool a request goes to. Light requests are bounded by nature: the login, the
// heartbeat, the permissions, queries of one customer (item 605), and changes since a revision, which
// go on to the heavy workers when they find more changed than a light answer holds (see
// Outcome::heavyLane). Everything else may stream a whole table and waits for a heavy worker, so that
// long replies never hold up a small query.
#pragma once

#include "protocol/Items.h"

namespace orvo::server {

enum class Lane {
    // Logins with a password have workers of their own: a password check takes tens of milliseconds of a
    // core, and a rush of them must neither wait behind nor hold up the light requests of operators
    // already logged in. A login with a session ticket instead costs no hash and is a light request.
    Login,
    Light,
    Heavy,
};

Lane laneOf(const proto::Frame& frame);

} // namespace orvo::server
