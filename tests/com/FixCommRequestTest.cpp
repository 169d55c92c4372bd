// What CFixComm sends and how it reads what comes back.
#include "tests/com/FixCommTestSupport.h"

#include <gtest/gtest.h>

using orvo::test::FakeItems;
using orvo::test::FakeReply;

TEST(FixCommRequest, SendsItemsInOrderAfterALogin) {
    FixCommFixture f;
    f.server.Script(16476, {});
    f.comm.CreateHead(16476, -1);
    EXPECT_TRUE(f.comm.SetItem(697, ""));
    EXPECT_TRUE(f.comm.SetItem(605, "010100000123"));
    EXPECT_TRUE(f.comm.SetItem(720, "\xB2\xE2 ")); // GBK bytes and a trailing blank go out unchanged
    EXPECT_TRUE(f.comm.SetItem(9020, "0"));
    EXPECT_TRUE(f.comm.SetItem(1842, 2L));
    EXPECT_TRUE(f.comm.SetItem(684, -15L));
    EXPECT_FALSE(f.comm.More(nullptr));
    EXPECT_TRUE(f.failures.empty());

    const auto all = f.server.Requests();
    ASSERT_EQ(all.size(), 2u);
    EXPECT_EQ(all[0].function, 1u);
    EXPECT_EQ(all[0].Keys(), (std::vector<std::string>{"553", "554"}));
    EXPECT_EQ(all[0].Value("553"), "teller");
    EXPECT_EQ(all[0].Value("554"), "secret");
    const auto& request = all[1];
    EXPECT_EQ(request.function, 16476u);
    EXPECT_EQ(request.Keys(), (std::vector<std::string>{"697", "605", "720", "9020", "1842", "684"}));
    EXPECT_EQ(request.Value("697"), "");
    EXPECT_EQ(request.Value("720"), "\xB2\xE2 ");
    EXPECT_EQ(request.Value("1842"), "2");
    EXPECT_EQ(request.Value("684"), "-15");
}

TEST(FixCommRequest, StreamsRowsAndReadsItemsOfTheCurrentRowOnly) {
    FixCommFixture f;
    FakeReply reply;
    reply.rows = {{{"797", "1001"}, {"682", "3521.5"}, {"613", "\xD5\xC5\xC8\xFD"}},
                  {{"797", "1002"}, {"830", ""}, {"684", "abc"}, {"742", " 12x"}}};
    f.server.Script(16477, reply);
    f.comm.CreateHead(16477, -1);
    f.comm.SetItem(697, "");

    ASSERT_TRUE(f.comm.More(nullptr));
    EXPECT_EQ(f.comm.GetLong(797, -1), 1001);
    EXPECT_DOUBLE_EQ(f.comm.GetDouble(682, -1), 3521.5);
    EXPECT_EQ(f.comm.GetItem(613, -1), CString("\xD5\xC5\xC8\xFD"));
    EXPECT_EQ(f.comm.GetItem(830, -1), CString("")); // not in this row
    ASSERT_TRUE(f.comm.More(nullptr));
    EXPECT_EQ(f.comm.GetLong(797, -1), 1002);
    EXPECT_EQ(f.comm.GetItem(682, -1), CString("")); // the first row's item is gone
    EXPECT_EQ(f.comm.GetLong(682, -1), 0);
    EXPECT_DOUBLE_EQ(f.comm.GetDouble(682, -1), 0.0);
    EXPECT_EQ(f.comm.GetLong(684, -1), 0);          // not a number: atol gives 0
    EXPECT_EQ(f.comm.GetLong(742, -1), 12);         // atol reads the leading number
    EXPECT_EQ(f.comm.GetItem(34, -1), CString("")); // header items are not row items
    EXPECT_FALSE(f.comm.More(nullptr));
    EXPECT_EQ(f.comm.GetItem(797, -1), CString("")); // no current row after the end
    EXPECT_FALSE(f.comm.More(nullptr));              // and it stays at the end
    EXPECT_TRUE(f.failures.empty());
}

TEST(FixCommRequest, IndexPicksARepeatedTag) {
    FixCommFixture f;
    FakeReply reply;
    reply.rows = {{{"605", "a"}, {"605", "b"}}};
    f.server.Script(15016, reply);
    f.comm.CreateHead(15016, -1);
    ASSERT_TRUE(f.comm.More(nullptr));
    EXPECT_EQ(f.comm.GetItem(605, -1), CString("a"));
    EXPECT_EQ(f.comm.GetItem(605, 0), CString("a"));
    EXPECT_EQ(f.comm.GetItem(605, 1), CString("b"));
    EXPECT_EQ(f.comm.GetItem(605, 2), CString(""));
}

// The view GetItemView gives holds the same bytes GetItem copies, repeats and missing items included.
TEST(FixCommRequest, ItemViewsHoldWhatGetItemCopies) {
    FixCommFixture f;
    FakeReply reply;
    reply.rows = {{{"605", "a"}, {"613", "\xD5\xC5\xC8\xFD"}, {"605", "b"}, {"830", ""}},
                  {{"797", "1002"}}};
    f.server.Script(16477, reply);
    f.comm.CreateHead(16477, -1);
    EXPECT_EQ(f.comm.GetItemView(605, -1), ""); // no row yet
    ASSERT_TRUE(f.comm.More(nullptr));
    EXPECT_EQ(f.comm.GetItemView(605, -1), "a");
    EXPECT_EQ(f.comm.GetItemView(605, 1), "b");
    EXPECT_EQ(f.comm.GetItemView(605, 2), "");
    EXPECT_EQ(f.comm.GetItemView(613, -1), "\xD5\xC5\xC8\xFD");
    EXPECT_EQ(f.comm.GetItemView(830, -1), "");
    EXPECT_EQ(f.comm.GetItemView(797, -1), ""); // not in this row
    EXPECT_EQ(f.comm.GetItemView(34, -1), "");  // header items are not row items
    EXPECT_EQ(f.comm.GetItemView(0, -1), "");
    ASSERT_TRUE(f.comm.More(nullptr));
    EXPECT_EQ(f.comm.GetItemView(797, -1), "1002");
    EXPECT_EQ(f.comm.GetItemView(605, -1), ""); // the first row's item is gone
    EXPECT_FALSE(f.comm.More(nullptr));
    EXPECT_EQ(f.comm.GetItemView(797, -1), ""); // no current row after the end
}

// Rows of one reply usually repeat one tag order, and the channel indexes a row by the order of the one
// before: every change of order, of tags, of repeats or of length must still read the row itself.
TEST(FixCommRequest, RowsWhoseTagsDifferFromThePreviousRowReadTheirOwnItems) {
    FixCommFixture f;
    FakeReply reply;
    reply.rows = {
        {{"797", "1"}, {"605", "c1"}, {"613", "n1"}},
        {{"797", "2"}, {"605", "c2"}, {"613", "n2"}},              // same order: new values
        {{"613", "n3"}, {"797", "3"}, {"605", "c3"}},              // same tags, other order
        {{"797", "4"}, {"605", "c4"}, {"830", "s4"}},              // same length, one tag swapped
        {{"797", "5"}},                                            // shorter
        {{"605", "x"}, {"797", "6"}, {"605", "y"}, {"605", "z"}},  // a tag repeated, first not in front
        {{"797", "7"}, {"605", "p"}, {"605", "q"}, {"613", "n7"}}, // the same length, the repeats moved
        {},                                                        // no items at all
        {{"797", "9"}, {"605", "c9"}, {"613", "n9"}},              // the first order again
    };
    f.server.Script(16477, reply);
    f.comm.CreateHead(16477, -1);

    ASSERT_TRUE(f.comm.More(nullptr));
    EXPECT_EQ(f.comm.GetItem(613, -1), CString("n1"));
    ASSERT_TRUE(f.comm.More(nullptr));
    EXPECT_EQ(f.comm.GetLong(797, -1), 2);
    EXPECT_EQ(f.comm.GetItem(605, -1), CString("c2"));
    EXPECT_EQ(f.comm.GetItem(613, -1), CString("n2"));

    ASSERT_TRUE(f.comm.More(nullptr));
    EXPECT_EQ(f.comm.GetLong(797, -1), 3);
    EXPECT_EQ(f.comm.GetItem(605, -1), CString("c3"));
    EXPECT_EQ(f.comm.GetItem(613, -1), CString("n3"));

    ASSERT_TRUE(f.comm.More(nullptr));
    EXPECT_EQ(f.comm.GetLong(797, -1), 4);
    EXPECT_EQ(f.comm.GetItem(613, -1), CString("")); // where the previous row had it, this one has 830
    EXPECT_EQ(f.comm.GetItem(830, -1), CString("s4"));

    ASSERT_TRUE(f.comm.More(nullptr));
    EXPECT_EQ(f.comm.GetLong(797, -1), 5);
    EXPECT_EQ(f.comm.GetItem(605, -1), CString(""));
    EXPECT_EQ(f.comm.GetItem(830, -1), CString(""));

    ASSERT_TRUE(f.comm.More(nullptr));
    EXPECT_EQ(f.comm.GetLong(797, -1), 6);
    EXPECT_EQ(f.comm.GetItem(605, -1), CString("x"));
    EXPECT_EQ(f.comm.GetItem(605, 0), CString("x"));
    EXPECT_EQ(f.comm.GetItem(605, 1), CString("y"));
    EXPECT_EQ(f.comm.GetItem(605, 2), CString("z"));
    EXPECT_EQ(f.comm.GetItem(605, 3), CString(""));
    EXPECT_EQ(f.comm.GetItem(797, 1), CString("")); // no second 797

    ASSERT_TRUE(f.comm.More(nullptr));
    EXPECT_EQ(f.comm.GetItem(605, -1), CString("p"));
    EXPECT_EQ(f.comm.GetItem(605, 1), CString("q"));
    EXPECT_EQ(f.comm.GetItem(605, 2), CString(""));
    EXPECT_EQ(f.comm.GetItem(613, -1), CString("n7"));

    ASSERT_TRUE(f.comm.More(nullptr));
    EXPECT_EQ(f.comm.GetItem(797, -1), CString(""));
    EXPECT_EQ(f.comm.GetLong(605, -1), 0);

    ASSERT_TRUE(f.comm.More(nullptr));
    EXPECT_EQ(f.comm.GetLong(797, -1), 9);
    EXPECT_EQ(f.comm.GetItem(605, -1), CString("c9"));
    EXPECT_EQ(f.comm.GetItem(613, -1), CString("n9"));
    EXPECT_FALSE(f.comm.More(nullptr));
    EXPECT_TRUE(f.failures.empty());
}

// The index belongs to the row being read: a new reply with the same tag order as the last row of the
// one before reads the new values, and an abandoned reply's rows never show through.
TEST(FixCommRequest, ANewReplyWithTheSameTagOrderReadsItsOwnRows) {
    FixCommFixture f;
    FakeReply first;
    first.rows = {RuleRow(1, "a"), RuleRow(2, "b")};
    f.server.Script(16476, first);
    FakeReply second;
    second.rows = {RuleRow(3, "c")};
    f.server.Script(16477, second);

    f.comm.CreateHead(16476, -1);
    ASSERT_TRUE(f.comm.More(nullptr));
    EXPECT_EQ(f.comm.GetItem(613, -1), CString("a"));
    f.comm.CreateHead(16477, -1); // the second row of the first reply is never read
    EXPECT_EQ(f.comm.GetItem(613, -1), CString(""));
    ASSERT_TRUE(f.comm.More(nullptr));
    EXPECT_EQ(f.comm.GetLong(797, -1), 3);
    EXPECT_EQ(f.comm.GetItem(613, -1), CString("c"));
    EXPECT_FALSE(f.comm.More(nullptr));
}

TEST(FixCommRequest, ALargeReplyStreamsThrough) {
    FixCommFixture f;
    FakeReply reply;
    reply.generatedRows = 200000;
    reply.generate = [](std::size_t i) {
        return FakeItems{{"797", std::to_string(i)}, {"719", "cu2501"}, {"682", "70000.00"}};
    };
    f.server.Script(16476, reply);
    f.comm.CreateHead(16476, -1);
    long rows = 0;
    bool inOrder = true;
    while (f.comm.More(nullptr)) {
        inOrder = inOrder && f.comm.GetLong(797, -1) == rows;
        ++rows;
    }
    EXPECT_EQ(rows, 200000);
    EXPECT_TRUE(inOrder);
    // About 8 MB went by; the channel kept a buffer of one read and a frame, not the reply.
    EXPECT_LE(f.comm.ReceiveBufferBytes(), 256u * 1024u);
    EXPECT_TRUE(f.failures.empty());
}

TEST(FixCommRequest, CreateHeadAbandonsAnUnreadReply) {
    FixCommFixture f;
    FakeReply big;
    big.generatedRows = 5000;
    big.generate = [](std::size_t i) { return FakeItems{{"797", std::to_string(i)}}; };
    f.server.Script(16476, big);
    FakeReply small;
    small.rows = {RuleRow(7, "x")};
    f.server.Script(16477, small);

    f.comm.CreateHead(16476, -1);
    ASSERT_TRUE(f.comm.More(nullptr));
    ASSERT_TRUE(f.comm.More(nullptr)); // two rows read, thousands left unread

    f.comm.CreateHead(16477, -1);
    ASSERT_TRUE(f.comm.More(nullptr));
    EXPECT_EQ(f.comm.GetLong(797, -1), 7); // a row of the new reply, not of the old one
    EXPECT_FALSE(f.comm.More(nullptr));
    EXPECT_TRUE(f.failures.empty());
    EXPECT_EQ(f.server.ConnectionsAccepted(), 1); // the connection stayed usable

    // An abandoned request that was never sent leaves nothing behind either.
    f.comm.CreateHead(16476, -1);
    f.comm.SetItem(697, "");
    f.comm.CreateHead(16477, -1);
    EXPECT_EQ(f.Count(16477), 1);
    EXPECT_EQ(f.server.Requests(16476).size(), 1u);
}

TEST(FixCommRequest, TraceShowsRequestsAndRepliesWithoutThePassword) {
    FixCommFixture f;
    FakeReply reply;
    reply.rows = {RuleRow(1, "a"), RuleRow(2, "b")};
    f.server.Script(16479, reply);
    f.comm.CreateHead(16479, -1);
    f.comm.SetItem(697, "0101");
    while (f.comm.More(nullptr)) {
    }
    ASSERT_EQ(f.trace.size(), 4u); // login request and reply, then ours
    EXPECT_EQ(f.trace[0].function, 1);
    ASSERT_EQ(f.trace[0].items.size(), 2u);
    EXPECT_EQ(f.trace[0].items[1].second, CString("***"));
    EXPECT_EQ(f.trace[2].kind, FixCommTraceEvent::Request);
    EXPECT_EQ(f.trace[2].function, 16479);
    ASSERT_EQ(f.trace[2].items.size(), 1u);
    EXPECT_EQ(f.trace[2].items[0].first, "697");
    EXPECT_EQ(f.trace[2].items[0].second, CString("0101"));
    EXPECT_EQ(f.trace[3].kind, FixCommTraceEvent::Reply);
    EXPECT_EQ(f.trace[3].rows, 2);
    EXPECT_EQ(f.trace[3].status, 0);
}
