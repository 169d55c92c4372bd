// What a listener does when accepting fails: out of descriptors for a moment, or a client that gave up
// before it was taken. It accepts again after a short pause rather than spin.
#pragma once

#include <asio/error.hpp>
#include <asio/steady_timer.hpp>

#include <chrono>

namespace orvo::server {

// Calls acceptAgain() after the pause unless the timer is cancelled or stopped() says so meanwhile.
template <typename Stopped, typename AcceptAgain>
void acceptAgainSoon(asio::steady_timer& retry, Stopped stopped, AcceptAgain acceptAgain) {
    retry.expires_after(std::chrono::milliseconds(100));
    retry.async_wait([stopped, acceptAgain](const asio::error_code& waitError) {
        if (!waitError && !stopped())
            acceptAgain();
    });
}

} // namespace orvo::server
