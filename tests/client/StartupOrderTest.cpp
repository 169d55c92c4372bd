// The host's start-up against a fake counter server and a module double that records its calls: the
// order of the entry points, the tables in each map, refusals, and a channel that fails half-way.
#include "client/HostSession.h"
#include "host/stock/DataDictionary.h"
#include "tests/support/FakeCounterServer.h"

#include <gtest/gtest.h>

#include <dlfcn.h>
#include <string>
#include <vector>

namespace {

using orvo::test::FakeCounterServer;
using orvo::test::FakeReply;

// Keeps the double loaded for the whole test so its record survives the host's dlclose.
class ModuleDouble {
public:
    ModuleDouble() : m_handle(dlopen(MODULE_DOUBLE_PATH, RTLD_NOW | RTLD_LOCAL)) {
        if (!m_handle)
            return;
        calls = reinterpret_cast<const char* (*)()>(dlsym(m_handle, "ModuleDoubleCalls"));
        refuse = reinterpret_cast<void (*)(long)>(dlsym(m_handle, "ModuleDoubleRefuse"));
        reset = reinterpret_cast<void (*)()>(dlsym(m_handle, "ModuleDoubleReset"));
        reset();
    }
    ~ModuleDouble() {
        if (m_handle)
            dlclose(m_handle);
    }
    ModuleDouble(const ModuleDouble&) = delete;
    ModuleDouble& operator=(const ModuleDouble&) = delete;

    bool ok() const { return m_handle && calls && refuse && reset; }
    std::vector<std::string> Calls() const {
        std::vector<std::string> lines;
        std::string text = calls();
        for (std::size_t start = 0, end; (end = text.find('\n', start)) != std::string::npos; start = end + 1)
            lines.push_back(text.substr(start, end - start));
        return lines;
    }

    const char* (*calls)() = nullptr;
    void (*refuse)(long) = nullptr;
    void (*reset)() = nullptr;

private:
    void* m_handle;
};

FakeReply tableOf(int rows) {
    FakeReply reply;
    for (int i = 0; i < rows; ++i)
        reply.rows.push_back({{"CODE", std::to_string(i)}, {"NOTE", "n" + std::to_string(i)}});
    return reply;
}

class StartupOrderTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(module.ok());
        // Every table but BZ (dictionary) and KHQZ (module map); row counts tell the tables apart.
        int rows = 1;
        for (const char* name :
             {"XTDM", "YYB", "QHJYS", "QHPZ", "QHHYDM", "QHXTDM", "JYS", "ZQLB", "YWKM", "JYLB"})
            server.ScriptTable(name, tableOf(rows++));
        options.server = "127.0.0.1:" + std::to_string(server.port());
        options.operatorName = "op";
    }

    bool startUp(std::string& error) {
        if (!session.Configure("/nonexistent/orvo-client.ini", options, error))
            return false;
        if (session.Login("op", "secret", error) != LoginResult::Ok)
            return false;
        return session.DownloadTables({}, error) && session.OpenModule(MODULE_DOUBLE_PATH, error);
    }

    ModuleDouble module;
    FakeCounterServer server;
    ClientOptions options;
    std::vector<std::string> warnings;
    HostSession session{[this](int level, const std::string& line) {
        if (level == 0)
            warnings.push_back(line);
    }};
};

TEST_F(StartupOrderTest, EntryPointsInOrderWithTheTablesOfEachMap) {
    std::string error;
    ASSERT_TRUE(startUp(error)) << error;
    const std::vector<std::string> expected{
        "ModuleInit",
        "SetOrvoData 102",
        "SetOrvoData 103",
        // KHQZ is not on the server, so it is not in the map at all.
        "SetOrvoData 105 QHJYS=3,QHPZ=4,XTDM=1,YYB=2",
        "SetOrvoData 106 QHXTDM=6,XTDM=1,JYS=7,YYB=2,ZQLB=8,YWKM=9,QHPZ=4,QHJYS=3,JYLB=10",
        "SetParam 6 扩展委托查询",
        "GetParam 1",
        "GetParam 2",
        "GetParam 3",
        "GetParam 4",
        "GetParam 5",
        "GetParam 8",
    };
    EXPECT_EQ(module.Calls(), expected);
    EXPECT_EQ(session.Module().Identity().functions, std::vector<long>{893});
    EXPECT_EQ(session.TablesOutcome().missing, (std::vector<std::string>{"KHQZ", "BZ"}));

    // The contract table is the host's global; the module finds it there when it runs.
    module.reset();
    EXPECT_EQ(session.Module().RunMain(893), "");
    EXPECT_EQ(module.Calls(), (std::vector<std::string>{"ModuleMain theGloalMem QHHYDM=5", "GetParam 7"}));
    EXPECT_EQ(session.Module().RunMain(894), "") << "a function the module does not serve is not run";
    EXPECT_EQ(module.Calls().size(), 2u);
}

TEST_F(StartupOrderTest, EachTableIsDownloadedOnceWithFunctionTwo) {
    std::string error;
    ASSERT_TRUE(startUp(error)) << error;
    std::vector<std::string> names;
    for (const auto& request : server.Requests(2))
        names.push_back(request.Value("30"));
    EXPECT_EQ(names, (std::vector<std::string>{"XTDM", "YYB", "QHJYS", "QHPZ", "KHQZ", "QHHYDM", "QHXTDM",
                                               "JYS", "BZ", "ZQLB", "YWKM", "JYLB"}));
}

TEST_F(StartupOrderTest, ARefusalIsFollowedByTheStatusQuery) {
    module.refuse(103);
    std::string error;
    ASSERT_TRUE(startUp(error)) << error;
    const std::vector<std::string> calls = module.Calls();
    ASSERT_GE(calls.size(), 5u);
    EXPECT_EQ(calls[2], "SetOrvoData 103");
    EXPECT_EQ(calls[3], "GetParam 7");
    EXPECT_EQ(calls[4], "SetOrvoData 105 QHJYS=3,QHPZ=4,XTDM=1,YYB=2");
    bool logged = false;
    for (const std::string& line : warnings)
        logged = logged || line.find("SetOrvoData(103): refused 103") != std::string::npos;
    EXPECT_TRUE(logged);
}

TEST_F(StartupOrderTest, ClosingTheSessionClosesTheModuleAndClearsTheGlobalMap) {
    std::string error;
    {
        HostSession scoped([](int, const std::string&) {});
        ASSERT_TRUE(scoped.Configure("/nonexistent/orvo-client.ini", options, error)) << error;
        ASSERT_EQ(scoped.Login("op", "secret", error), LoginResult::Ok) << error;
        ASSERT_TRUE(scoped.DownloadTables({}, error)) << error;
        ASSERT_TRUE(scoped.OpenModule(MODULE_DOUBLE_PATH, error)) << error;
        void* table = nullptr;
        EXPECT_TRUE(theGloalMem.Lookup("QHHYDM", table));
        module.reset();
    }
    EXPECT_EQ(module.Calls(), std::vector<std::string>{"ModuleClose"});
    void* table = nullptr;
    EXPECT_FALSE(theGloalMem.Lookup("QHHYDM", table));
}

TEST_F(StartupOrderTest, AChannelFailureStopsTheDownloadWithTheTableNamed) {
    FakeReply broken;
    broken.fault = FakeReply::Fault::Close;
    server.ScriptTable("QHPZ", broken);
    std::string error;
    ASSERT_TRUE(session.Configure("/nonexistent/orvo-client.ini", options, error)) << error;
    ASSERT_EQ(session.Login("op", "secret", error), LoginResult::Ok) << error;
    EXPECT_FALSE(session.DownloadTables({}, error));
    EXPECT_NE(error.find("QHPZ"), std::string::npos) << error;
    // Nothing after the broken table was asked for.
    EXPECT_EQ(server.Requests(2).size(), 4u);
}

TEST_F(StartupOrderTest, LoginOutcomesAreTold) {
    server.AddAccount("op", "right");
    std::string error;
    ASSERT_TRUE(session.Configure("/nonexistent/orvo-client.ini", options, error)) << error;
    EXPECT_EQ(session.Login("op", "wrong", error), LoginResult::Refused);
    EXPECT_NE(error.find("refused"), std::string::npos) << error;
    EXPECT_EQ(session.Login("op", "right", error), LoginResult::Ok) << error;

    ClientOptions nowhere;
    nowhere.server = "127.0.0.1:1"; // nothing listens on port 1
    HostSession down([](int, const std::string&) {});
    ASSERT_TRUE(down.Configure("/nonexistent/orvo-client.ini", nowhere, error)) << error;
    EXPECT_EQ(down.Login("op", "right", error), LoginResult::Unreachable);
    EXPECT_NE(error.find("cannot reach the counter server at 127.0.0.1:1"), std::string::npos) << error;
}

} // namespace
