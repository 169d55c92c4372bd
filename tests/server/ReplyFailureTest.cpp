// A reply that cannot carry every row fails visibly: a row too large for any frame ends the reply with a
// failure that names the row, never with success and a gap.
#include "ServerFixture.h"

#include "protocol/Protocol.h"
#include "server/functions/Functions.h"
#include "server/store/RowCache.h"
#include "server/store/sqlite/SqliteStore.h"

#include <gtest/gtest.h>

namespace orvo::test {
namespace {

struct Capture : server::ByteSink {
    bool write(std::string_view bytes) override {
        all.append(bytes);
        return true;
    }
    std::string all;
};

// Runs admin's 16477 (every stop-loss rule) through the handler on store.
server::Outcome stopProfitOutcome(server::Store& store, server::ReplyWriter& reply) {
    std::string requestBytes;
    proto::FrameBuilder b(requestBytes);
    proto::AddRequestHead(b, 1, 16477);
    b.Add(697, "").Add(9020, "");
    b.Finish();
    proto::FrameReader requestReader;
    requestReader.Feed(requestBytes);
    proto::Frame requestFrame;
    EXPECT_EQ(requestReader.Next(requestFrame), proto::ReadResult::Frame);
    server::Request request;
    request.seq = 1;
    request.function = 16477;
    request.items = requestFrame.items;
    server::Session session;
    session.loggedIn = true;
    session.op.name = "admin";
    session.op.allBranches = session.op.allGroups = true;
    server::CallContext ctx{store, session, request, reply, kToday};
    return server::dispatch(ctx);
}

// A status text over the frame limit, read afresh and through the row cache: status 5 naming the serial,
// a log line naming it too, and the end frame's count is the rows actually sent.
TEST(ReplyFailure, ARowTooLargeForAFrameFailsTheReplyAndNamesItsSerial) {
    WritableDemo own("huge.db");
    ASSERT_TRUE(own.ok);
    const auto scalarOf = [&](const std::string& sql) {
        server::Statement s;
        std::string error;
        EXPECT_TRUE(own.writer.prepare(sql, s, error)) << error;
        EXPECT_EQ(s.step(), SQLITE_ROW);
        return s.integer(0);
    };
    const long long serial = scalarOf("SELECT min(lsh) FROM rules WHERE kind = 3");
    const auto total = static_cast<std::uint64_t>(scalarOf("SELECT COUNT(*) FROM rules WHERE kind = 3"));
    std::string error;
    ASSERT_TRUE(own.writer.exec(("UPDATE rules SET status_text = substr(hex(zeroblob(8500000)), 1, 17000000) "
                                 "WHERE lsh = " +
                                 std::to_string(serial))
                                    .c_str(),
                                error))
        << error;

    server::RowCache cache(64 * 1024 * 1024);
    for (server::RowCache* kept : {static_cast<server::RowCache*>(nullptr), &cache}) {
        server::sqlite::SqliteStore store(own.reader, kept);
        Capture sink;
        server::ReplyWriter reply(sink, 1);
        testing::internal::CaptureStderr();
        const server::Outcome outcome = stopProfitOutcome(store, reply);
        const std::string log = testing::internal::GetCapturedStderr();
        reply.end(outcome.status, outcome.text);
        const std::string key = "797=" + std::to_string(serial);
        EXPECT_EQ(outcome.status, proto::kStatusLimit) << outcome.text;
        EXPECT_NE(outcome.text.find(key), std::string::npos) << outcome.text;
        if (!kept) { // the same error again within the minute is only counted (see ServerLog.h)
            EXPECT_NE(log.find(key), std::string::npos) << log;
        }

        proto::FrameReader reader;
        reader.Feed(sink.all);
        proto::Frame frame;
        std::uint64_t rows = 0;
        proto::Header end;
        while (reader.Next(frame) == proto::ReadResult::Frame) {
            proto::Header header;
            ASSERT_EQ(proto::ReadHeader(frame.items, header), proto::Error::None);
            if (header.type == proto::MessageType::End)
                end = header;
            else
                ++rows;
        }
        EXPECT_EQ(end.status, proto::kStatusLimit);
        EXPECT_EQ(end.rows, rows);
        EXPECT_LT(rows, total);
    }
}

} // namespace
} // namespace orvo::test
