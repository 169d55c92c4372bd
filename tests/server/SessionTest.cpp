// Sessions recorded by the servers, and revocation that reaches them, on a SQLite file.
#include "ServerFixture.h"
#include "SessionScenario.h"

#include "server/demo/PrepareStore.h"

#include <gtest/gtest.h>

namespace orvo::test {
namespace {

TEST(Sessions, RevocationReachesOpenSessionsOnTwoServersSharingOneFile) {
    TempDir dir;
    const std::string path = dir.path + "/shared.db";
    server::DemoOptions demo;
    demo.today = kToday;
    std::string error;
    ASSERT_TRUE(server::prepareStore(path, &demo, error)) << error;
    revocationReachesSessionsOnTwoServers(path, {});
}

} // namespace
} // namespace orvo::test
