// The fake counter server's reply side: what it answers to each request and how a reply goes out, row by
// row, with the scripted fault at its end.
#include "tests/support/FakeCounterConnection.h"

#include <algorithm>
#include <cstdio>

namespace orvo::test {

namespace proto = orvo::proto;

namespace {

constexpr std::size_t kOutputHighWater = 256 * 1024; // reply bytes queued ahead of the client
constexpr int kStrayFrames = 150;                    // 3 s of them, then silence

bool AllDigits(const std::string& key) {
    return !key.empty() && std::all_of(key.begin(), key.end(), [](char c) { return c >= '0' && c <= '9'; });
}

void AddKey(proto::FrameBuilder& builder, const std::string& key, const std::string& value) {
    std::uint64_t tag = 0;
    if (AllDigits(key) && proto::ParseDecimal(key, proto::kMaxTag, tag) && tag > 0)
        builder.Add(static_cast<std::uint32_t>(tag), value);
    else
        builder.AddNamed(key, value);
}

} // namespace

std::vector<std::string> RecordedRequest::Keys() const {
    std::vector<std::string> keys;
    for (const auto& item : items)
        keys.push_back(item.first);
    return keys;
}

std::string RecordedRequest::Value(const std::string& key) const {
    for (const auto& item : items)
        if (item.first == key)
            return item.second;
    return {};
}

bool RecordedRequest::Has(const std::string& key) const {
    return std::any_of(items.begin(), items.end(), [&](const auto& item) { return item.first == key; });
}

void FakeCounterServer::ServeNext(Connection& connection) {
    while (!connection.replying && !connection.stalled && !connection.closeAfterFlush && !connection.dead) {
        proto::Frame frame;
        const proto::ReadResult result = connection.reader.Next(frame);
        if (result == proto::ReadResult::NeedMore)
            return;
        if (result == proto::ReadResult::Error) {
            connection.dead = true; // a broken stream cannot be resynchronised
            return;
        }
        proto::Header header;
        if (proto::ReadHeader(frame.items, header) != proto::Error::None ||
            header.type != proto::MessageType::Request) {
            proto::AppendEnd(connection.out, header.seq, proto::kStatusBadRequest, "bad request header", 0);
            continue;
        }
        RecordedRequest request;
        request.function = header.function;
        request.seq = header.seq;
        request.connection = connection.id;
        for (const proto::Item& item : frame.items)
            if (item.tag != proto::kTagType && item.tag != proto::kTagSeq && item.tag != proto::kTagFunction)
                request.items.emplace_back(std::string(item.key), std::string(item.value));
        FakeReply reply = ReplyFor(connection, request, header.function);
        {
            std::lock_guard lock(m_mutex);
            m_requests.push_back(std::move(request));
        }
        m_recorded.notify_all();
        connection.reply = std::move(reply);
        connection.seq = header.seq;
        connection.nextRow = 0;
        connection.replying = true;
        TopUp(connection);
    }
}

FakeReply FakeCounterServer::ReplyFor(Connection& connection, const RecordedRequest& request,
                                      std::uint32_t function) {
    FakeReply reply;
    std::lock_guard lock(m_mutex);
    if (function == proto::kFunctionLogin) {
        const std::string name = request.Value("553");
        const auto account = m_accounts.find(name);
        connection.loggedIn =
            m_accounts.empty() || (account != m_accounts.end() && account->second == request.Value("554"));
        reply.status = connection.loggedIn ? proto::kStatusOk : proto::kStatusNotPermitted;
        reply.text = connection.loggedIn ? "" : "login refused";
        return reply;
    }
    if (m_requireLogin && !connection.loggedIn) {
        reply.status = proto::kStatusNotLoggedIn;
        reply.text = "not logged in";
        return reply;
    }
    if (function == proto::kFunctionHeartbeat)
        return reply;
    if (function == proto::kFunctionDownloadTable) {
        const auto table = m_tables.find(request.Value("30"));
        if (table != m_tables.end())
            return table->second;
        reply.status = proto::kStatusBadRequest;
        reply.text = "no such table";
        return reply;
    }
    if (auto once = m_once.find(function); once != m_once.end() && !once->second.empty()) {
        reply = std::move(once->second.front());
        once->second.erase(once->second.begin());
        return reply;
    }
    if (const auto script = m_scripts.find(function); script != m_scripts.end())
        return script->second;
    reply.status = proto::kStatusUnknownFunction;
    reply.text = "unknown function";
    return reply;
}

void FakeCounterServer::TopUp(Connection& connection) {
    if (!connection.replying)
        return;
    FakeReply& reply = connection.reply;
    const std::size_t total = reply.rows.size() + (reply.generate ? reply.generatedRows : 0);
    const std::size_t stopAt = reply.fault == FakeReply::Fault::None ? total
                               : reply.fault == FakeReply::Fault::Refuse
                                   ? 0
                                   : std::min(total, reply.faultAfterRows);
    while (connection.nextRow < stopAt && connection.out.size() - connection.outSent < kOutputHighWater) {
        const std::size_t i = connection.nextRow++;
        const FakeItems items = i < reply.rows.size() ? reply.rows[i] : reply.generate(i - reply.rows.size());
        proto::FrameBuilder builder(connection.out);
        proto::AddRowHead(builder, connection.seq);
        for (const auto& [key, value] : items)
            AddKey(builder, key, value);
        if (builder.Finish() != proto::Error::None) {
            std::fprintf(stderr, "FakeCounterServer: scripted row %zu is not a valid frame\n", i);
            reply.fault = FakeReply::Fault::None;
            reply.status = proto::kStatusInternal;
            reply.text = "bad scripted row";
            connection.nextRow = total;
            break;
        }
    }
    if (connection.nextRow < stopAt)
        return; // more once the client has read some
    connection.replying = false;
    switch (reply.fault) {
    case FakeReply::Fault::None: {
        proto::FrameBuilder builder(connection.out);
        builder.Add(proto::kTagType, "E")
            .Add(proto::kTagSeq, connection.seq)
            .Add(proto::kTagStatus, reply.status);
        if (!reply.text.empty())
            builder.Add(proto::kTagText, reply.text);
        builder.Add(proto::kTagRows, static_cast<long long>(connection.nextRow));
        for (const auto& [key, value] : reply.endItems)
            AddKey(builder, key, value);
        if (builder.Finish() != proto::Error::None)
            std::fprintf(stderr, "FakeCounterServer: the scripted end of reply is not a valid frame\n");
        break;
    }
    case FakeReply::Fault::Close:
        connection.closeAfterFlush = true;
        break;
    case FakeReply::Fault::Stall:
        connection.stalled = true;
        break;
    case FakeReply::Fault::BrokenFrame:
        connection.out.append(4, '\0');
        connection.closeAfterFlush = true;
        break;
    case FakeReply::Fault::Refuse:
        proto::AppendEnd(connection.out, 0, reply.status, reply.text, 0);
        connection.closeAfterFlush = true;
        break;
    case FakeReply::Fault::StrayFrames:
        connection.stalled = true;
        connection.strayLeft = kStrayFrames;
        break;
    }
    connection.reply = FakeReply{};
}

} // namespace orvo::test
