#include "RawClient.h"

#include "server/common/Gbk.h"

#include <arpa/inet.h>
#include <cerrno>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

namespace orvo::test {

std::string Row::get(const std::string& key) const {
    for (const auto& [k, v] : items)
        if (k == key)
            return v;
    return {};
}

bool Row::has(std::uint32_t tag) const {
    const std::string key = std::to_string(tag);
    for (const auto& item : items)
        if (item.first == key)
            return true;
    return false;
}

RawClient::~RawClient() {
    close();
}

bool RawClient::connect(int port, int timeoutMs, const char* sourceAddress) {
    close();
    m_timeoutMs = timeoutMs;
    m_reader.Reset();
    m_fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (m_fd < 0)
        return false;
    if (sourceAddress) {
        sockaddr_in source{};
        source.sin_family = AF_INET;
        if (inet_pton(AF_INET, sourceAddress, &source.sin_addr) != 1 ||
            bind(m_fd, reinterpret_cast<sockaddr*>(&source), sizeof source) != 0) {
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
    return true;
}

void RawClient::close() {
    if (m_fd >= 0)
        ::close(m_fd);
    m_fd = -1;
}

bool RawClient::sendRaw(const std::string& bytes) {
    size_t done = 0;
    while (done < bytes.size()) {
        ssize_t n = send(m_fd, bytes.data() + done, bytes.size() - done, MSG_NOSIGNAL);
        if (n <= 0)
            return false;
        done += static_cast<size_t>(n);
    }
    return true;
}

Reply RawClient::call(std::uint32_t function, const Items& items) {
    if (!sendRequest(function, items))
        return {};
    return readReply();
}

bool RawClient::sendRequest(std::uint32_t function, const Items& items) {
    std::string out;
    proto::FrameBuilder builder(out);
    proto::AddRequestHead(builder, ++m_seq, function);
    for (const auto& [tag, value] : items)
        builder.Add(tag, value);
    return builder.Finish() == proto::Error::None && sendRaw(out);
}

Reply RawClient::readReply() {
    Reply reply;
    proto::Frame frame;
    for (;;) {
        proto::ReadResult r = m_reader.Next(frame);
        if (r == proto::ReadResult::Error)
            return reply;
        if (r == proto::ReadResult::Frame) {
            proto::Header header;
            if (proto::ReadHeader(frame.items, header) != proto::Error::None)
                return reply;
            reply.seq = header.seq;
            if (header.type == proto::MessageType::End) {
                reply.complete = true;
                reply.status = header.status;
                reply.text = std::string(header.text);
                reply.rowCount = header.rows;
                for (const proto::Item& item : frame.items)
                    if (item.tag != proto::kTagType && item.tag != proto::kTagSeq &&
                        item.tag != proto::kTagStatus && item.tag != proto::kTagText &&
                        item.tag != proto::kTagRows)
                        reply.end.items.emplace_back(std::string(item.key), std::string(item.value));
                return reply;
            }
            Row row;
            for (size_t i = header.firstData; i < frame.items.size(); ++i)
                row.items.emplace_back(std::string(frame.items[i].key), std::string(frame.items[i].value));
            reply.rows.push_back(std::move(row));
            continue;
        }
        pollfd pfd{m_fd, POLLIN, 0};
        if (poll(&pfd, 1, m_timeoutMs) <= 0)
            return reply;
        auto space = m_reader.PrepareWrite();
        ssize_t n = recv(m_fd, space.data(), space.size(), 0);
        if (n <= 0)
            return reply;
        m_reader.Commit(static_cast<size_t>(n));
    }
}

bool RawClient::login(const std::string& name, const std::string& password) {
    Reply r = call(proto::kFunctionLogin, {{proto::kTagOperator, name}, {proto::kTagPassword, password}});
    return r.complete && r.status == 0;
}

bool RawClient::closedByPeer(int timeoutMs) {
    pollfd pfd{m_fd, POLLIN, 0};
    for (;;) {
        if (poll(&pfd, 1, timeoutMs) <= 0)
            return false;
        char buf[4096];
        ssize_t n = recv(m_fd, buf, sizeof buf, 0);
        if (n == 0 || (n < 0 && errno == ECONNRESET))
            return true;
        if (n < 0)
            return false;
        // Bytes of a reply: keep reading until the end of the stream.
    }
}

std::string gbk(const std::string& utf8Text) {
    return server::utf8ToGbk(utf8Text);
}

std::string utf8(const std::string& gbkText) {
    std::string out;
    server::gbkToUtf8(gbkText, out);
    return out;
}

} // namespace orvo::test
