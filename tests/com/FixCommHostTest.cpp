// The host's own functions: login, table download, heartbeat.
#include "tests/com/FixCommTestSupport.h"

#include "host/dbm/MemRecord.h"

#include <gtest/gtest.h>

using orvo::test::FakeReply;

TEST(FixCommHost, LoginAndHeartbeat) {
    FixCommFixture f;
    f.server.AddAccount("teller", "secret");
    EXPECT_TRUE(f.comm.Login());
    EXPECT_TRUE(f.comm.IsConnected());
    EXPECT_TRUE(f.comm.Heartbeat());
    EXPECT_EQ(f.server.Requests(1).size(), 1u); // no second login for the heartbeat
    EXPECT_EQ(f.server.Requests(3).size(), 1u);
    f.comm.Disconnect();
    EXPECT_FALSE(f.comm.IsConnected());
    EXPECT_TRUE(f.comm.Heartbeat()); // connects and logs in again
    EXPECT_EQ(f.server.Requests(1).size(), 2u);
}

TEST(FixCommHost, DownloadTableBuildsColumnsFromTheFirstRow) {
    FixCommFixture f;
    FakeReply reply;
    reply.rows = {{{"FLDM", "QHMMFX"}, {"IBM", "1"}, {"NOTE", "\xC2\xF2"}},
                  {{"FLDM", "QHMMFX"}, {"IBM", "2"}, {"EXTRA", "dropped"}}};
    f.server.ScriptTable("XTDM", reply);
    CMemRecord table;
    ASSERT_TRUE(f.comm.DownloadTable("XTDM", table));
    EXPECT_EQ(f.server.Requests(2).at(0).Value("30"), "XTDM");
    ASSERT_EQ(table.GetFieldCount(), 3);
    EXPECT_EQ(table.GetField(0).name, CString("FLDM"));
    EXPECT_EQ(table.GetField(2).name, CString("NOTE"));
    ASSERT_EQ(table.GetRecordCount(), 2);
    EXPECT_EQ(table.GetString("NOTE", 0), CString("\xC2\xF2"));
    EXPECT_EQ(table.GetString("NOTE", 1), CString("")); // missing in the second row
    EXPECT_EQ(table.GetLong("IBM", 1), 2);
    EXPECT_TRUE(table.Locate("IBM", 2));
    EXPECT_EQ(table.FindField("EXTRA"), -1);
}

TEST(FixCommHost, AFailedDownloadLeavesTheTableAsItWas) {
    FixCommFixture f;
    FakeReply broken;
    broken.rows = {{{"DM", "1"}}, {{"DM", "2"}}};
    broken.fault = FakeReply::Fault::Close;
    broken.faultAfterRows = 1;
    f.server.ScriptTable("BZ", broken);
    CMemRecord table;
    ASSERT_TRUE(table.Create("OLD[C4]"));
    table.Append(nullptr, 1);
    table.Set("OLD", "keep");
    EXPECT_FALSE(f.comm.DownloadTable("BZ", table));
    EXPECT_EQ(table.GetString("OLD", 0), CString("keep"));
    EXPECT_FALSE(f.comm.DownloadTable("NOSUCH", table)); // the fake says "no such table"
    EXPECT_EQ(f.comm.LastFailure().function, 2);
    EXPECT_EQ(table.GetRecordCount(), 1);

    FakeReply tagged; // rows keyed by tags have no column names to build a layout from
    tagged.rows = {{{"605", "1"}}};
    f.server.ScriptTable("TAGS", tagged);
    EXPECT_FALSE(f.comm.DownloadTable("TAGS", table));
    EXPECT_EQ(table.GetRecordCount(), 1);
    EXPECT_FALSE(f.comm.DownloadTable("", table));
}

TEST(FixCommHost, AnEmptyTableEmptiesTheRecordSet) {
    FixCommFixture f;
    f.server.ScriptTable("JYS", {});
    CMemRecord table;
    ASSERT_TRUE(table.Create("JYS[C4]"));
    table.Append(nullptr, 1);
    EXPECT_TRUE(f.comm.DownloadTable("JYS", table));
    EXPECT_EQ(table.GetRecordCount(), 0);
}
