// Writes reply bytes to a connected socket. The socket's send time-out (SO_SNDTIMEO) bounds how long a
// client that stops reading can hold a writer.
#pragma once

#include "server/ReplyWriter.h"

namespace orvo::server {

class SocketSink : public ByteSink {
public:
    explicit SocketSink(int fd) : m_fd(fd) {}
    bool write(std::string_view bytes) override;

private:
    int m_fd;
};

} // namespace orvo::server
