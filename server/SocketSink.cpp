#include "server/SocketSink.h"

#include <cerrno>
#include <sys/socket.h>

namespace orvo::server {

bool SocketSink::write(std::string_view bytes) {
    while (!bytes.empty()) {
        ssize_t sent = send(m_fd, bytes.data(), bytes.size(), MSG_NOSIGNAL);
        if (sent < 0) {
            if (errno == EINTR)
                continue;
            return false; // EAGAIN here is the send time-out
        }
        bytes.remove_prefix(static_cast<size_t>(sent));
    }
    return true;
}

} // namespace orvo::server
