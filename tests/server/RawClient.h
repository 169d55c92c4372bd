// A small blocking client of the counter channel for the server tests: sends request frames built
// with the protocol codec and reads whole replies, with a time-out on every read.
#pragma once

#include "protocol/Protocol.h"

#include <cstdint>
#include <map>
#include <string>
#include <utility>
#include <vector>

namespace orvo::test {

struct Row {
    std::vector<std::pair<std::string, std::string>> items; // key (tag digits or column), GBK value

    // The value of the key, or "" when the row lacks it.
    std::string get(const std::string& key) const;
    std::string get(std::uint32_t tag) const { return get(std::to_string(tag)); }
    bool has(std::uint32_t tag) const;
};

struct Reply {
    bool complete = false; // an E frame arrived
    int status = -1;
    std::string text;           // GBK
    std::uint64_t rowCount = 0; // tag 60
    std::uint32_t seq = 0;
    std::vector<Row> rows;
    Row end; // the E frame's items but its type, sequence, status, text and row count
};

using Items = std::vector<std::pair<std::uint32_t, std::string>>;

class RawClient {
public:
    RawClient() = default;
    ~RawClient();
    RawClient(const RawClient&) = delete;
    RawClient& operator=(const RawClient&) = delete;

    // From sourceAddress when given (another loopback address, e.g. "127.0.0.2").
    bool connect(int port, int timeoutMs = 5000, const char* sourceAddress = nullptr);
    int fd() const { return m_fd; }
    void close();

    // Sends one request and reads its reply (rows, then E). complete is false when the connection
    // closed or timed out first.
    Reply call(std::uint32_t function, const Items& items = {});
    // Sends one request without reading its reply (readReply reads it later).
    bool sendRequest(std::uint32_t function, const Items& items = {});
    bool login(const std::string& name, const std::string& password);

    bool sendRaw(const std::string& bytes);
    Reply readReply();
    // True when the server has closed the connection (reads end) within the time-out.
    bool closedByPeer(int timeoutMs = 3000);

private:
    int m_fd = -1;
    int m_timeoutMs = 5000;
    std::uint32_t m_seq = 0;
    proto::FrameReader m_reader;
};

// GBK text of a UTF-8 literal, for comparing with what the server sends.
std::string gbk(const std::string& utf8);
std::string utf8(const std::string& gbkText);

} // namespace orvo::test
