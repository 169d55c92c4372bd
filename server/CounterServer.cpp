#include "server/CounterServer.h"

#include "protocol/FrameReader.h"
#include "protocol/Header.h"
#include "server/Dates.h"
#include "server/Db.h"
#include "server/Functions.h"
#include "server/SocketSink.h"

#include <arpa/inet.h>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <ctime>
#include <fcntl.h>
#include <iostream>
#include <netdb.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <sys/socket.h>
#include <unistd.h>

namespace orvo::server {

struct CounterServer::Connection {
    int fd = -1;
    std::string peer;
    std::thread thread;
    std::atomic<bool> finished{false};
};

namespace {

using Clock = std::chrono::steady_clock;

std::string peerName(const sockaddr_storage& addr) {
    char host[INET6_ADDRSTRLEN] = "?";
    int port = 0;
    if (addr.ss_family == AF_INET) {
        const auto* a = reinterpret_cast<const sockaddr_in*>(&addr);
        inet_ntop(AF_INET, &a->sin_addr, host, sizeof host);
        port = ntohs(a->sin_port);
    } else if (addr.ss_family == AF_INET6) {
        const auto* a = reinterpret_cast<const sockaddr_in6*>(&addr);
        inet_ntop(AF_INET6, &a->sin6_addr, host, sizeof host);
        port = ntohs(a->sin6_port);
    }
    return std::string(host) + ":" + std::to_string(port);
}

int remainingMs(Clock::time_point deadline) {
    auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
    return left < 0 ? 0 : static_cast<int>(left);
}

// Reads the sequence number of a frame whose header is broken, so the error still reaches the
// request it answers when that much is readable.
std::uint32_t bestEffortSeq(const proto::Frame& frame) {
    std::uint64_t seq = 0;
    if (const proto::Item* item = frame.Find(proto::kTagSeq))
        if (proto::ParseDecimal(item->value, 0xFFFFFFFFu, seq))
            return static_cast<std::uint32_t>(seq);
    return 0;
}

} // namespace

CounterServer::CounterServer(ServerOptions options) : m_options(std::move(options)) {}

CounterServer::~CounterServer() {
    stop();
}

void CounterServer::logLine(std::string_view line) {
    std::lock_guard lock(m_logMutex);
    if (m_options.log)
        m_options.log(line);
    else
        std::cerr << line << '\n' << std::flush;
}

int CounterServer::start(const std::string& address, int port, std::string& error) {
    if (m_running) {
        error = "already running";
        return -1;
    }
    if (port < 0 || port > 65535) {
        error = "port out of range";
        return -1;
    }
    addrinfo hints{};
    hints.ai_family = AF_UNSPEC;
    hints.ai_socktype = SOCK_STREAM;
    hints.ai_flags = AI_PASSIVE | AI_NUMERICHOST | AI_NUMERICSERV;
    addrinfo* found = nullptr;
    std::string service = std::to_string(port);
    if (int rc = getaddrinfo(address.c_str(), service.c_str(), &hints, &found); rc != 0) {
        error = "bad listen address '" + address + "': " + gai_strerror(rc);
        return -1;
    }
    int fd = socket(found->ai_family, found->ai_socktype | SOCK_CLOEXEC, found->ai_protocol);
    if (fd < 0) {
        error = std::string("socket: ") + std::strerror(errno);
        freeaddrinfo(found);
        return -1;
    }
    int one = 1;
    setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
    if (bind(fd, found->ai_addr, found->ai_addrlen) != 0 || listen(fd, 64) != 0) {
        error = "cannot listen on " + address + ":" + service + ": " + std::strerror(errno);
        freeaddrinfo(found);
        ::close(fd);
        return -1;
    }
    freeaddrinfo(found);
    sockaddr_storage bound{};
    socklen_t len = sizeof bound;
    getsockname(fd, reinterpret_cast<sockaddr*>(&bound), &len);
    m_port = bound.ss_family == AF_INET6 ? ntohs(reinterpret_cast<sockaddr_in6*>(&bound)->sin6_port)
                                         : ntohs(reinterpret_cast<sockaddr_in*>(&bound)->sin_port);
    m_wakeFd = eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
    if (m_wakeFd < 0) {
        error = std::string("eventfd: ") + std::strerror(errno);
        ::close(fd);
        return -1;
    }
    m_listenFd = fd;
    m_stopping = false;
    m_running = true;
    m_acceptThread = std::thread([this] { acceptLoop(); });
    logLine("listening on " + address + ":" + std::to_string(m_port));
    return m_port;
}

void CounterServer::stop() {
    if (!m_running)
        return;
    m_stopping = true;
    std::uint64_t one = 1;
    if (write(m_wakeFd, &one, sizeof one) < 0) {
        // The flag alone still stops every loop at its next time-out.
    }
    if (m_acceptThread.joinable())
        m_acceptThread.join();
    ::close(m_listenFd);
    m_listenFd = -1;

    std::unique_lock lock(m_mutex);
    auto allDone = [this] {
        for (auto& c : m_connections)
            if (!c->finished)
                return false;
        return true;
    };
    if (!m_finished.wait_for(lock, std::chrono::milliseconds(m_options.stopGraceMs), allDone)) {
        for (auto& c : m_connections)
            if (!c->finished)
                shutdown(c->fd, SHUT_RDWR); // a reply still being sent stops here
    }
    std::list<std::unique_ptr<Connection>> rest;
    rest.swap(m_connections);
    lock.unlock();
    for (auto& c : rest) {
        c->thread.join();
        ::close(c->fd);
    }
    ::close(m_wakeFd);
    m_wakeFd = -1;
    m_running = false;
    logLine("stopped");
}

int CounterServer::activeConnections() {
    std::lock_guard lock(m_mutex);
    int n = 0;
    for (auto& c : m_connections)
        n += c->finished ? 0 : 1;
    return n;
}

void CounterServer::reapFinished() {
    std::list<std::unique_ptr<Connection>> done;
    {
        std::lock_guard lock(m_mutex);
        for (auto it = m_connections.begin(); it != m_connections.end();) {
            if ((*it)->finished) {
                done.push_back(std::move(*it));
                it = m_connections.erase(it);
            } else {
                ++it;
            }
        }
    }
    for (auto& c : done) {
        c->thread.join();
        ::close(c->fd);
    }
}

void CounterServer::acceptLoop() {
    while (!m_stopping) {
        pollfd fds[2] = {{m_listenFd, POLLIN, 0}, {m_wakeFd, POLLIN, 0}};
        int n = poll(fds, 2, 1000);
        reapFinished();
        if (m_stopping)
            break;
        if (n <= 0 || !(fds[0].revents & POLLIN))
            continue;
        sockaddr_storage addr{};
        socklen_t len = sizeof addr;
        int fd = accept4(m_listenFd, reinterpret_cast<sockaddr*>(&addr), &len, SOCK_CLOEXEC);
        if (fd < 0)
            continue; // a client that gave up before we took it, or out of descriptors for a moment
        int one = 1;
        setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
        timeval tv{m_options.writeTimeoutMs / 1000, (m_options.writeTimeoutMs % 1000) * 1000};
        setsockopt(fd, SOL_SOCKET, SO_SNDTIMEO, &tv, sizeof tv);
        std::string peer = peerName(addr);
        if (activeConnections() >= m_options.maxConnections) {
            std::string busy;
            proto::AppendEnd(busy, 0, proto::kStatusLimit, "server busy: too many connections", 0);
            SocketSink(fd).write(busy);
            ::close(fd);
            logLine("refused " + peer + ": too many connections");
            continue;
        }
        auto conn = std::make_unique<Connection>();
        conn->fd = fd;
        conn->peer = peer;
        Connection* raw = conn.get();
        std::lock_guard lock(m_mutex);
        m_connections.push_back(std::move(conn));
        raw->thread = std::thread([this, raw] {
            serve(*raw);
            shutdown(raw->fd, SHUT_RDWR); // the peer sees the end now; the descriptor is closed when reaped
            std::lock_guard done(m_mutex);
            raw->finished = true;
            m_finished.notify_all();
        });
    }
}

void CounterServer::serve(Connection& conn) {
    SocketSink sink(conn.fd);
    Db db;
    std::string error;
    if (!db.open(m_options.dbPath, true, error)) {
        std::string reply;
        proto::AppendEnd(reply, 0, proto::kStatusInternal, "database unavailable", 0);
        sink.write(reply);
        logLine("connection " + conn.peer + ": cannot open database: " + error);
        return;
    }
    proto::Limits limits;
    limits.maxFrameSize = m_options.maxRequestBytes;
    limits.allowColumnNames = false; // requests carry tags only
    proto::FrameReader reader(limits);
    Session session;
    proto::Frame frame;
    auto idleDeadline = Clock::now() + std::chrono::milliseconds(m_options.idleTimeoutMs);
    auto frameDeadline = Clock::time_point::max();

    while (!m_stopping) {
        proto::ReadResult result = reader.Next(frame);
        if (result == proto::ReadResult::Error) {
            logLine("connection " + conn.peer + " closed: broken frame (" + proto::ErrorText(reader.error()) +
                    ")");
            return;
        }
        if (result == proto::ReadResult::NeedMore) {
            const bool midFrame = reader.Buffered() > 0;
            if (midFrame && frameDeadline == Clock::time_point::max())
                frameDeadline = Clock::now() + std::chrono::milliseconds(m_options.readTimeoutMs);
            const auto deadline = midFrame ? frameDeadline : idleDeadline;
            pollfd fds[2] = {{conn.fd, POLLIN, 0}, {m_wakeFd, POLLIN, 0}};
            int n = poll(fds, 2, remainingMs(deadline));
            if (m_stopping)
                return;
            if (n == 0) {
                logLine("connection " + conn.peer +
                        " closed: " + (midFrame ? "read time-out" : "idle time-out"));
                return;
            }
            if (n < 0) {
                if (errno == EINTR)
                    continue;
                return;
            }
            std::span<char> space = reader.PrepareWrite(64 * 1024);
            ssize_t got = recv(conn.fd, space.data(), space.size(), 0);
            if (got <= 0) {
                if (got < 0 && (errno == EINTR || errno == EAGAIN))
                    continue;
                return; // the client closed the connection
            }
            reader.Commit(static_cast<std::size_t>(got));
            continue;
        }

        // A whole request.
        frameDeadline = Clock::time_point::max();
        const auto started = Clock::now();
        proto::Header header;
        proto::Error headerError = proto::ReadHeader(frame.items, header);
        Request request;
        request.seq = headerError == proto::Error::None ? header.seq : bestEffortSeq(frame);
        request.function = header.function;
        request.items = frame.items;
        ReplyWriter reply(sink, request.seq);
        Outcome outcome;
        if (headerError != proto::Error::None) {
            outcome = fail(proto::kStatusBadRequest,
                           std::string("bad request header: ") + proto::ErrorText(headerError));
        } else if (header.type != proto::MessageType::Request) {
            outcome = fail(proto::kStatusBadRequest, "expected a request (35=Q)");
        } else if (frame.items.size() > proto::kMaxItemsPerRequest) {
            outcome = fail(proto::kStatusLimit, "too many items in one request (limit " +
                                                    std::to_string(proto::kMaxItemsPerRequest) + ")");
        } else {
            CallContext ctx{db, session, request, reply,
                            m_options.today.empty() ? localDate() : m_options.today};
            outcome = dispatch(ctx);
        }
        reply.end(outcome.status, outcome.text);
        const auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - started).count();
        logLine("op=" + (session.loggedIn ? session.op.name : std::string("-")) +
                " fn=" + std::to_string(request.function) + " rows=" + std::to_string(reply.rows()) +
                " ms=" + std::to_string(ms) + " status=" + std::to_string(outcome.status) +
                (outcome.status ? " (" + outcome.text + ")" : std::string()));
        if (reply.failed() || outcome.closeAfter)
            return;
        idleDeadline = Clock::now() + std::chrono::milliseconds(m_options.idleTimeoutMs);
    }
}

} // namespace orvo::server
