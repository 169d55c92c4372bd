// The host's main window over a real session (fake counter server, module double): the functions it
// lists, opening them, and the status area that shows the connection and the last channel failure.
#include "client/ui/MainWindow.h"
#include "client/HostSession.h"
#include "host/com/FixComm.h"
#include "tests/support/FakeCounterServer.h"

#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QMessageBox>
#include <QTreeWidget>

#include <dlfcn.h>

namespace {

class MainWindowTest : public ::testing::Test {
protected:
    void SetUp() override {
        m_double = dlopen(MODULE_DOUBLE_PATH, RTLD_NOW | RTLD_LOCAL);
        ASSERT_NE(m_double, nullptr);
        reinterpret_cast<void (*)()>(dlsym(m_double, "ModuleDoubleReset"))();
        ClientOptions options;
        options.server = "127.0.0.1:" + std::to_string(server.port());
        std::string error;
        ASSERT_TRUE(session.Configure("/nonexistent/orvo-client.ini", options, error)) << error;
        ASSERT_EQ(session.Login("op", "pw", error), LoginResult::Ok) << error;
        ASSERT_TRUE(session.DownloadTables({}, error)) << error;
        ASSERT_TRUE(session.OpenModule(MODULE_DOUBLE_PATH, error)) << error;
    }
    void TearDown() override {
        if (m_double)
            dlclose(m_double);
    }

    orvo::test::FakeCounterServer server;
    HostSession session{[](int, const std::string&) {}};
    void* m_double = nullptr;
};

TEST_F(MainWindowTest, ListsTheServedFunctionsAndOpensOnlyThose) {
    MainWindow window(session);
    ASSERT_EQ(window.Functions()->topLevelItemCount(), 1);
    EXPECT_EQ(window.Functions()->topLevelItem(0)->text(0), "893");
    EXPECT_EQ(window.Functions()->topLevelItem(0)->text(1), "扩展委托查询");
    EXPECT_TRUE(window.ConnectionText().startsWith(QString("Connected to 127.0.0.1:%1").arg(server.port())));

    QString reason;
    EXPECT_FALSE(window.OpenFunction(894, &reason));
    EXPECT_EQ(reason, "no loaded module serves function 894");
    EXPECT_TRUE(window.OpenFunction(893, &reason)) << reason.toStdString();
}

TEST_F(MainWindowTest, AWindowThatCannotOpenSaysWhy) {
    reinterpret_cast<void (*)(int)>(dlsym(m_double, "ModuleDoubleMainRefuses"))(1);
    MainWindow window(session);
    QString reason;
    EXPECT_FALSE(window.OpenFunction(893, &reason));
    EXPECT_EQ(reason, "function 893: 缺少主程序对象(102)");
    EXPECT_EQ(window.FailureText(), reason);
}

TEST_F(MainWindowTest, TheLastChannelFailureIsShown) {
    MainWindow window(session);
    // The fake server has no code tables at all.
    EXPECT_TRUE(window.FailureText().startsWith("Code tables not on the server: XTDM, YYB, QHJYS"))
        << window.FailureText().toStdString();
    CFixComm& channel = session.Channel();
    channel.CreateHead(16477);
    EXPECT_FALSE(channel.More());
    EXPECT_TRUE(window.FailureText().endsWith(" request failed: unknown function"))
        << window.FailureText().toStdString();
    EXPECT_FALSE(window.FailureText().contains("16477")) << "the function number is for the log";
    // One notice per outage: the same failure again (a live window's next try) is not shown again...
    orvo::test::FakeReply unknown;
    unknown.status = 4;
    unknown.text = "no such function here";
    server.Script(16478, unknown);
    channel.CreateHead(16478);
    EXPECT_FALSE(channel.More());
    EXPECT_TRUE(window.FailureText().endsWith("unknown function")) << window.FailureText().toStdString();
    // ...until a request succeeds, which is said once.
    EXPECT_TRUE(channel.Heartbeat());
    EXPECT_TRUE(window.FailureText().endsWith(" recovered")) << window.FailureText().toStdString();
    channel.CreateHead(16478);
    EXPECT_FALSE(channel.More());
    EXPECT_TRUE(window.FailureText().endsWith("no such function here")) << window.FailureText().toStdString();

    server.DropConnections();
    channel.Disconnect();
    ClientOptions nowhere;
    nowhere.server = "127.0.0.1:1";
    std::string error;
    ASSERT_TRUE(session.Configure("/nonexistent/orvo-client.ini", nowhere, error));
    EXPECT_EQ(session.Login("op", "pw", error), LoginResult::Unreachable);
    EXPECT_TRUE(
        window.FailureText().contains("request failed: cannot connect to the counter server 127.0.0.1:1"))
        << window.FailureText().toStdString();
}

TEST_F(MainWindowTest, ASessionEndedForGoodIsNotLoggedInAgainByItselfButOfferedOnce) {
    MainWindow window(session);
    orvo::test::FakeReply ended;
    ended.fault = orvo::test::FakeReply::Fault::Refuse;
    ended.status = 2;
    ended.text = "session ended by an administrator";
    server.ScriptOnce(16477, ended);
    CFixComm& channel = session.Channel();
    channel.CreateHead(16477);
    EXPECT_FALSE(channel.More());
    EXPECT_TRUE(channel.SessionEndedForGood());

    // Later requests fail at once with the reason: no login with the password the channel keeps.
    server.ClearRequests();
    for (int i = 0; i < 3; ++i) {
        channel.CreateHead(16477);
        EXPECT_FALSE(channel.More());
    }
    EXPECT_TRUE(server.Requests().empty()) << "logged in again by itself";
    EXPECT_EQ(channel.LastFailure().status, 2);

    // The user is offered the login once, after the failing request has returned.
    QCoreApplication::processEvents();
    const QList<QMessageBox*> offers = window.findChildren<QMessageBox*>("sessionEnded");
    ASSERT_EQ(offers.size(), 1);
    EXPECT_TRUE(offers.front()->text().contains("session ended by an administrator"))
        << offers.front()->text().toStdString();
    offers.front()->reject();

    // A login the user asks for starts a session again.
    std::string error;
    ASSERT_EQ(session.Login("op", "pw", error), LoginResult::Ok) << error;
    EXPECT_FALSE(channel.SessionEndedForGood());
    EXPECT_TRUE(channel.Heartbeat());
}

} // namespace
