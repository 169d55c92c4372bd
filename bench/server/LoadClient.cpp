#include "bench/server/LoadClient.h"

#include <algorithm>
#include <csignal>
#include <cstdlib>
#include <filesystem>
#include <string_view>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <openssl/ssl.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <unistd.h>

namespace orvo::bench {

LoadClient::~LoadClient() {
    close();
}

bool LoadClient::connect(int port, SSL_CTX* tls, const char* source, int timeoutMs) {
    close();
    m_reader.Reset();
    m_fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (m_fd < 0)
        return false;
    timeval tv{timeoutMs / 1000, (timeoutMs % 1000) * 1000};
    setsockopt(m_fd, SOL_SOCKET, SO_RCVTIMEO, &tv, sizeof tv);
    setsockopt(m_fd, SOL_SOCKET, SO_SNDTIMEO, &tv, sizeof tv);
    if (source) {
        sockaddr_in from{};
        from.sin_family = AF_INET;
        inet_pton(AF_INET, source, &from.sin_addr);
        if (bind(m_fd, reinterpret_cast<sockaddr*>(&from), sizeof from) != 0) {
            close();
            return false;
        }
    }
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_port = htons(static_cast<std::uint16_t>(port));
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (::connect(m_fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0) {
        close();
        return false;
    }
    if (tls) {
        m_ssl = SSL_new(tls);
        SSL_set_fd(m_ssl, m_fd);
        if (SSL_connect(m_ssl) != 1) {
            close();
            return false;
        }
    }
    return true;
}

void LoadClient::abort() {
    const int fd = m_fd;
    if (fd >= 0)
        shutdown(fd, SHUT_RDWR);
}

void LoadClient::close() {
    if (m_ssl)
        SSL_free(m_ssl);
    m_ssl = nullptr;
    if (m_fd >= 0)
        ::close(m_fd);
    m_fd = -1;
}

bool LoadClient::sendAll(const std::string& bytes) {
    std::size_t done = 0;
    while (done < bytes.size()) {
        const long n = m_ssl ? SSL_write(m_ssl, bytes.data() + done, static_cast<int>(bytes.size() - done))
                             : send(m_fd, bytes.data() + done, bytes.size() - done, MSG_NOSIGNAL);
        if (n <= 0)
            return false;
        done += static_cast<std::size_t>(n);
    }
    return true;
}

long LoadClient::receive(char* data, std::size_t size) {
    if (m_ssl)
        return SSL_read(m_ssl, data, static_cast<int>(std::min<std::size_t>(size, 1 << 20)));
    return recv(m_fd, data, size, 0);
}

bool LoadClient::sendOnly(std::uint32_t function,
                          const std::vector<std::pair<std::uint32_t, std::string>>& items) {
    if (m_fd < 0)
        return false;
    std::string out;
    proto::FrameBuilder b(out);
    proto::AddRequestHead(b, ++m_seq, function);
    for (const auto& [tag, value] : items)
        b.Add(tag, value);
    if (b.Finish() != proto::Error::None || !sendAll(out)) {
        close();
        return false;
    }
    return true;
}

CallResult LoadClient::call(std::uint32_t function,
                            const std::vector<std::pair<std::uint32_t, std::string>>& items) {
    CallResult result;
    if (!sendOnly(function, items))
        return result;
    proto::Frame frame;
    for (;;) {
        const proto::ReadResult r = m_reader.Next(frame);
        if (r == proto::ReadResult::Error) {
            close();
            return result;
        }
        if (r == proto::ReadResult::NeedMore) {
            auto space = m_reader.PrepareWrite();
            const long n = receive(space.data(), space.size());
            if (n <= 0) {
                close();
                return result;
            }
            m_reader.Commit(static_cast<std::size_t>(n));
            result.bytes += static_cast<std::uint64_t>(n);
            continue;
        }
        proto::Header header;
        if (proto::ReadHeader(frame.items, header) != proto::Error::None) {
            close();
            return result;
        }
        if (header.type == proto::MessageType::End) {
            result.complete = true;
            result.status = header.status;
            result.text = std::string(header.text);
            const std::string_view retry = proto::ValueOf(frame.items, 61);
            if (!retry.empty())
                result.retryAfterMs = std::atol(std::string(retry).c_str());
            // The function's own items, and the protocol's that a login's answer carries (its ticket).
            for (const proto::Item& item : frame.items)
                if (item.tag >= 100 || item.tag == 62 || item.tag == 63)
                    result.endItems.emplace_back(item.tag, std::string(item.value));
            return result;
        }
        ++result.rows;
    }
}

bool LoadClient::login(const std::string& name, const std::string& password) {
    const CallResult r =
        call(proto::kFunctionLogin, {{proto::kTagOperator, name}, {proto::kTagPassword, password}});
    return r.complete && r.status == 0;
}

double msSince(LoadClock::time_point t) {
    return std::chrono::duration<double, std::milli>(LoadClock::now() - t).count();
}

double percentile(std::vector<double> values, double p) {
    if (values.empty())
        return -1;
    std::sort(values.begin(), values.end());
    return values[std::min(values.size() - 1,
                           static_cast<std::size_t>(p * static_cast<double>(values.size())))];
}

void prepareForManyConnections() {
    rlimit limit{};
    getrlimit(RLIMIT_NOFILE, &limit);
    limit.rlim_cur = limit.rlim_max;
    setrlimit(RLIMIT_NOFILE, &limit);
    std::signal(SIGPIPE, SIG_IGN);
}

std::string makeScratchFolder(const std::string& prefix) {
    std::string pattern = (std::filesystem::temp_directory_path() / (prefix + "-XXXXXX")).string();
    return mkdtemp(pattern.data()) ? pattern : std::string();
}

} // namespace orvo::bench
