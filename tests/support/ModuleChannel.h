// ModuleChannel: a FakeCounterServer and a real CFixComm to it, installed as the module's g_pFixComm for
// the object's lifetime. The server asks for no login, so a test goes straight to its functions.
//
//   class MyTest : public ::testing::Test, protected orvo::test::ModuleChannel { ... };
//   server.Script(16477, reply);  // then run a query that reads g_pFixComm
//
// The test area defines the module globals (module/ModuleState.h); this header only points one of them.
#pragma once

#include "tests/support/FakeCounterServer.h"

#include "host/com/FixComm.h"
#include "module/ModuleState.h"

namespace orvo::test {

// Settings of a channel to a fake server on loopback: a test operator, a generous reply time-out.
inline FixCommSettings LoopbackSettings(int port) {
    FixCommSettings settings;
    settings.host = "127.0.0.1";
    settings.port = port;
    settings.operatorName = "tester";
    settings.password = "secret";
    settings.replyTimeoutMs = 10000;
    return settings;
}

struct ModuleChannel {
    ModuleChannel() : fix(LoopbackSettings(server.port())) {
        server.SetRequireLogin(false);
        g_pFixComm = &fix;
    }
    ~ModuleChannel() { g_pFixComm = nullptr; }
    ModuleChannel(const ModuleChannel&) = delete;
    ModuleChannel& operator=(const ModuleChannel&) = delete;

    FakeCounterServer server;
    CFixComm fix;
};

} // namespace orvo::test
