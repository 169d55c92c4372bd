// The trace's JSON lines: request items in order with GBK turned into UTF-8, replies with their counts,
// and the JSON writer's escaping.
#include "client/Json.h"
#include "client/TraceLog.h"
#include "host/com/FixComm.h"

#include <gtest/gtest.h>

namespace {

TEST(TraceTest, ARequestListsItsItemsInOrderInUtf8) {
    FixCommTraceEvent event;
    event.kind = FixCommTraceEvent::Request;
    event.function = 16476;
    event.items = {{"697", CString("0101,0102")}, {"9020", GBK("有效")}, {"605", CString("")}};
    EXPECT_EQ(TraceLine(event),
              R"({"request": 16476, "items": [["697", "0101,0102"], ["9020", "有效"], ["605", ""]]})");
}

TEST(TraceTest, AReplyGivesRowsAndStatus) {
    FixCommTraceEvent event;
    event.kind = FixCommTraceEvent::Reply;
    event.function = 2;
    event.rows = 104;
    event.status = -1;
    EXPECT_EQ(TraceLine(event), R"({"reply": 2, "rows": 104, "status": -1})");
}

TEST(JsonTest, TextIsEscaped) {
    EXPECT_EQ(JsonQuote("a\"b\\c\nd\te\x01"), R"("a\"b\\c\nd\te\u0001")");
    JsonWriter json;
    json.BeginObject().Field("k", "v").Key("list").BeginArray().Number(1).Bool(false).Null().EndArray();
    json.Rect("rect", 1, 2, 3, 4).EndObject();
    EXPECT_EQ(json.Text(), R"({"k": "v", "list": [1, false, null], "rect": [1, 2, 3, 4]})");
}

// A dump of a long list goes to its file in pieces: together they are the text a whole-document writer
// builds, commas between pieces included, and nothing is held back once flushed.
TEST(JsonTest, AStreamedDocumentIsTheWholeDocumentInPieces) {
    std::string streamed;
    int pieces = 0;
    JsonWriter whole;
    JsonWriter stream([&](std::string_view piece) {
        streamed += piece;
        ++pieces;
    });
    for (JsonWriter* json : {&whole, &stream}) {
        json->BeginObject().Key("rows").BeginArray();
        for (int r = 0; r < 20000; ++r)
            json->BeginArray().String("row").Number(r).EndArray();
        json->EndArray().EndObject();
    }
    stream.Flush();
    EXPECT_GT(pieces, 1);
    EXPECT_TRUE(stream.Text().empty());
    EXPECT_EQ(streamed, whole.Text());
}

} // namespace
