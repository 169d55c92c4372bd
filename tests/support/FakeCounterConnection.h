// One client connection of the fake counter server, shared by its socket side and its reply side.
#pragma once

#include "tests/support/FakeCounterServer.h"

#include "protocol/Protocol.h"

#include <openssl/ssl.h>

#include <chrono>
#include <cstdint>
#include <string>

namespace orvo::test {

struct FakeCounterServer::Connection {
    ~Connection() { SSL_free(ssl); }
    int fd = -1;
    SSL* ssl = nullptr; // TLS, when the server speaks it
    bool handshaken = false;
    int id = 0;
    proto::FrameReader reader{proto::Limits{proto::kMaxFrameSize, proto::kMaxItemsPerRequest, false}};
    std::string out;
    std::size_t outSent = 0;
    bool loggedIn = false;
    bool stalled = false;
    int strayLeft = 0; // stalled, and still to send this many rows of a wrong sequence
    std::chrono::steady_clock::time_point nextStray;
    bool closeAfterFlush = false;
    bool dead = false;
    // The reply being sent.
    bool replying = false;
    FakeReply reply;
    std::uint32_t seq = 0;
    std::size_t nextRow = 0;
};

} // namespace orvo::test
