#include "ServerFixture.h"

#include "protocol/Protocol.h"
#include "server/demo/PrepareStore.h"
#include "server/functions/Functions.h"
#include "server/store/Store.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <memory>

namespace orvo::test {

WritableDemo::WritableDemo(const std::string& fileName) : path(dir.path + "/" + fileName) {
    server::DemoOptions options;
    options.today = kToday;
    std::string error;
    ok = server::prepareStore(path, &options, error) && reader.open(path, true, error) &&
         writer.open(path, false, error);
    EXPECT_TRUE(ok) << error;
}

std::string adminStopProfitReply(server::Store& store, std::uint32_t seq) {
    struct Capture : server::ByteSink {
        bool write(std::string_view bytes) override {
            all.append(bytes);
            return true;
        }
        std::string all;
    } sink;
    std::string requestBytes;
    proto::FrameBuilder b(requestBytes);
    proto::AddRequestHead(b, seq, 16477);
    b.Add(697, "").Add(9020, "");
    b.Finish();
    proto::FrameReader requestReader;
    requestReader.Feed(requestBytes);
    proto::Frame requestFrame;
    EXPECT_EQ(requestReader.Next(requestFrame), proto::ReadResult::Frame);
    server::Request request;
    request.seq = seq;
    request.function = 16477;
    request.items = requestFrame.items;
    server::Session session;
    session.loggedIn = true;
    session.op.name = "admin";
    session.op.allBranches = session.op.allGroups = true;
    server::ReplyWriter reply(sink, seq);
    server::CallContext ctx{store, session, request, reply, kToday};
    const server::Outcome outcome = server::dispatch(ctx);
    EXPECT_EQ(outcome.status, 0) << outcome.text;
    reply.end(outcome.status, outcome.text);
    return sink.all;
}

TempDir::TempDir() {
    std::string pattern = (std::filesystem::temp_directory_path() / "orvo-server-test-XXXXXX").string();
    if (mkdtemp(pattern.data()))
        path = pattern;
}

TempDir::~TempDir() {
    std::error_code ec;
    if (!path.empty())
        std::filesystem::remove_all(path, ec);
}

namespace {

struct Holder {
    TempDir tmp;
    DemoServer demo;
    ~Holder() {
        if (demo.server)
            demo.server->stop();
    }
};

} // namespace

DemoServer& demo() {
    static std::unique_ptr<Holder> holder = [] {
        auto h = std::make_unique<Holder>();
        h->demo.dir = h->tmp.path;
        h->demo.dbPath = h->tmp.path + "/counter.db";
        server::DemoOptions options;
        options.today = kToday;
        std::string error;
        if (!server::prepareStore(h->demo.dbPath, &options, error))
            ADD_FAILURE() << "cannot seed the demo database: " << error;
        if (!h->demo.oracle.open(h->demo.dbPath, true, error))
            ADD_FAILURE() << "cannot open the demo database: " << error;
        server::ServerOptions serverOptions;
        serverOptions.dbPath = h->demo.dbPath;
        serverOptions.today = kToday;
        serverOptions.log = [](std::string_view) {};
        // Every test logs in from 127.0.0.1, some with wrong passwords on purpose: the defences against
        // guessing are tested on servers of their own.
        serverOptions.loginGuard.enabled = false;
        h->demo.server = std::make_unique<server::CounterServer>(serverOptions);
        h->demo.port = h->demo.server->start("127.0.0.1", 0, error);
        if (h->demo.port <= 0)
            ADD_FAILURE() << "cannot start the demo server: " << error;
        return h;
    }();
    return holder->demo;
}

void connectAs(RawClient& client, const std::string& name) {
    ASSERT_TRUE(client.connect(demo().port));
    if (!name.empty()) {
        ASSERT_TRUE(client.login(name, name)); // the demo passwords equal the names
    }
}

long long scalar(const std::string& sql, const std::vector<std::string>& params) {
    server::Statement stmt;
    std::string error;
    if (!demo().oracle.prepare(sql, stmt, error)) {
        ADD_FAILURE() << sql << ": " << error;
        return -1;
    }
    for (size_t i = 0; i < params.size(); ++i)
        stmt.bind(static_cast<int>(i + 1), std::string_view(params[i]));
    if (stmt.step() != SQLITE_ROW) {
        ADD_FAILURE() << sql << ": no row";
        return -1;
    }
    return stmt.integer(0);
}

} // namespace orvo::test
