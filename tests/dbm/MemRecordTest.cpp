#include "host/dbm/MemRecord.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace {

// The detail list's layout: Chinese captions first, then "color" and the Latin key columns.
constexpr const char* kDetailLayout =
    "客户号[C12],委托号[I],状态说明[C30],合约[C16],买卖[C4],开平[C4],委价[R8.2],委手[I],成价[R8.2],成手[I],"
    "撤手[I],投保[C8],交易所[C4],委托时间[C8],申报时间[C8],委托日期[C10],color[I],KHH[C12],JYBM[C10],JYS[C2]";

CMemRecord makeSet(const char* utf8Layout) {
    CMemRecord set;
    EXPECT_TRUE(set.Create(CString::FromUtf8(utf8Layout)));
    return set;
}

TEST(MemRecordLayout, ColumnsKeepLayoutOrderAndTypes) {
    CMemRecord set = makeSet(kDetailLayout);
    ASSERT_EQ(set.GetFieldCount(), 20);
    EXPECT_EQ(set.GetField(0).name, GBK("客户号"));
    EXPECT_EQ(set.GetField(0).type, FieldType::Text);
    EXPECT_EQ(set.GetField(0).width, 12);
    EXPECT_EQ(set.GetField(1).type, FieldType::Integer);
    EXPECT_EQ(set.GetField(6).name, GBK("委价"));
    EXPECT_EQ(set.GetField(6).type, FieldType::Real);
    EXPECT_EQ(set.GetField(6).width, 8);
    EXPECT_EQ(set.GetField(6).decimals, 2);
    EXPECT_EQ(set.GetField(16).name, "color");
    EXPECT_EQ(set.GetField(19).name, "JYS");
    EXPECT_EQ(set.FindField("JYBM"), 18);
    EXPECT_EQ(set.FindField("jybm"), -1);
    EXPECT_EQ(set.GetRecordCount(), 0);
    EXPECT_TRUE(set.Eof());
}

TEST(MemRecordLayout, ABufferReusedForAnotherNameFindsThatName) {
    CMemRecord set = makeSet("AB[I],CD[I],ABC[I]");
    set.Append();
    set.Set("AB", 1L);
    set.Set("CD", 2L);
    set.Set("ABC", 3L);
    char name[8] = "AB";
    EXPECT_EQ(set.GetLong(name), 1);
    std::strcpy(name, "CD"); // same address, other text
    EXPECT_EQ(set.GetLong(name), 2);
    std::strcpy(name, "ABC");
    EXPECT_EQ(set.GetLong(name), 3);
    std::strcpy(name, "A");
    EXPECT_EQ(set.FindField(name), -1);
    // Many names through many buffers: lookups stay right however the hints collide.
    std::vector<std::string> names;
    std::string layout;
    for (int i = 0; i < 300; ++i) {
        names.push_back("F" + std::to_string(i));
        layout += (i ? "," : "") + names.back() + "[I]";
    }
    CMemRecord wide;
    ASSERT_TRUE(wide.Create(layout.c_str()));
    for (int round = 0; round < 2; ++round)
        for (int i = 0; i < 300; ++i)
            ASSERT_EQ(wide.FindField(names[static_cast<std::size_t>(i)].c_str()), i);
    CMemRecord copy(wide);
    EXPECT_EQ(copy.FindField("F299"), 299);
}

// The hint for a name's buffer is checked against the column's name on every lookup, for every length
// of name: a buffer that now holds a prefix, an extension or a one-byte change of the name misses.
TEST(MemRecordLayout, AHintedBufferMatchesOnlyTheWholeNameAtEveryLength) {
    std::string layout;
    std::vector<std::string> names;
    for (std::size_t length = 1; length <= 15; ++length) {
        names.push_back(std::string(length - 1, 'N') + static_cast<char>('a' + length));
        layout += (layout.empty() ? "" : ",") + names.back() + "[I]";
    }
    CMemRecord set;
    ASSERT_TRUE(set.Create(layout.c_str()));
    char buffer[32];
    for (std::size_t i = 0; i < names.size(); ++i) {
        const std::string& name = names[i];
        std::strcpy(buffer, name.c_str());
        ASSERT_EQ(set.FindField(buffer), static_cast<int>(i)) << name;
        ASSERT_EQ(set.FindField(buffer), static_cast<int>(i)) << name; // now through the hint

        std::strcpy(buffer, (name + "x").c_str()); // longer
        EXPECT_EQ(set.FindField(buffer), -1) << name;
        std::strcpy(buffer, name.c_str());
        buffer[name.size() - 1] = 'z'; // last byte differs
        EXPECT_EQ(set.FindField(buffer), -1) << name;
        buffer[0] = name.size() > 1 ? 'M' : 'z'; // first byte differs too
        EXPECT_EQ(set.FindField(buffer), -1) << name;
        std::strcpy(buffer, name.c_str());
        ASSERT_EQ(set.FindField(buffer), static_cast<int>(i)) << name;
        buffer[name.size() - 1] = '\0'; // a prefix
        EXPECT_EQ(set.FindField(buffer), -1) << name;
    }
}

TEST(MemRecordLayout, TextColumnWithDecimalsAndTrailingBlank) {
    CMemRecord set = makeSet("套利价差[C12.2],color[I],XZBH[I] ");
    ASSERT_EQ(set.GetFieldCount(), 3);
    EXPECT_EQ(set.GetField(0).type, FieldType::Text);
    EXPECT_EQ(set.GetField(0).decimals, 2);
    EXPECT_EQ(set.GetField(2).name, "XZBH");
    EXPECT_EQ(set.GetLayout(), CString::FromUtf8("套利价差[C12.2],color[I],XZBH[I] ")); // as given
    set.Append();
    set.Set(GBK("套利价差"), "1.5");
    EXPECT_EQ(set.GetString(GBK("套利价差")), "1.5"); // text stays text, no decimals added
}

TEST(MemRecordLayout, TrailByteThatLooksLikeABracketStaysInTheName) {
    const std::string name = "\xDA\x5B\xDA\x5D"; // two characters whose trail bytes are '[' and ']'
    CMemRecord set;
    ASSERT_TRUE(set.Create((name + "[I],B[C2]").c_str()));
    EXPECT_EQ(set.GetField(0).name.str(), name);
    EXPECT_EQ(set.GetField(0).type, FieldType::Integer);
}

TEST(MemRecordLayout, MalformedLayoutsLeaveNoColumns) {
    for (const char* bad : {"", "A", "A[I", "A[X]", "[I]", "A[I],,B[I]", "A[I],", "A[C12.]", "A[R8.2x]",
                            "A[i]", "A[I],A[C2]", "A[C99999999999]"}) {
        CMemRecord set = makeSet("X[I]");
        set.Append();
        EXPECT_FALSE(set.Create(bad)) << bad;
        EXPECT_EQ(set.GetFieldCount(), 0) << bad;
        EXPECT_EQ(set.GetRecordCount(), 0) << bad;
    }
    CMemRecord set;
    EXPECT_FALSE(set.Create(nullptr));
}

TEST(MemRecordValues, ConversionsBetweenColumnTypes) {
    CMemRecord set = makeSet("N[I],P[R8.2],T[C4]");
    set.Append();
    set.Set("N", "  -42abc");
    EXPECT_EQ(set.GetLong("N"), -42); // atol: blanks, sign, digits
    set.Set("N", "abc");
    EXPECT_EQ(set.GetLong("N"), 0);
    set.Set("N", "+7");
    EXPECT_EQ(set.GetString("N"), "7");
    set.Set("N", "99999999999999999999999");
    EXPECT_EQ(set.GetLong("N"), LONG_MAX);

    set.Set("P", " 3.14159xyz");
    EXPECT_DOUBLE_EQ(set.GetDouble("P"), 3.14159);
    EXPECT_EQ(set.GetString("P"), "3.14"); // the column's decimals
    EXPECT_EQ(set.GetLong("P"), 3);
    set.Set("P", 5L);
    EXPECT_EQ(set.GetString("P"), "5.00");
    set.Set("P", "-0.005");
    EXPECT_EQ(set.GetString("P"), "-0.01");
    set.Set("P", "1e3");
    EXPECT_EQ(set.GetString("P"), "1000.00");

    set.Set("T", 123456L);
    EXPECT_EQ(set.GetString("T"), "123456"); // width 4 does not cut
    EXPECT_EQ(set.GetLong("T"), 123456);
    set.Set("T", "2.5");
    EXPECT_DOUBLE_EQ(set.GetDouble("T"), 2.5);
    set.Set("T", static_cast<LPCTSTR>(nullptr));
    EXPECT_EQ(set.GetString("T"), "");
}

TEST(MemRecordValues, LongTextIsNeverCutAndGbkRoundTripsByteForByte) {
    CMemRecord set = makeSet("状态说明[C4],K[C2]");
    std::string every;
    for (int lead = 0x81; lead <= 0xFE; ++lead)
        every += std::string{static_cast<char>(lead), '\x40', static_cast<char>(lead), '\x7E'};
    set.Append();
    set.Set(GBK("状态说明"), GBK("已触发，等待成交"));
    set.Set("K", every.c_str());
    EXPECT_EQ(set.GetString(GBK("状态说明")), GBK("已触发，等待成交"));
    EXPECT_EQ(set.GetString("K").str(), every);
    EXPECT_EQ(set.GetCellString(0, 1).str(), every);
}

// SetText takes bytes that are not NUL-terminated (a view into a received row): it stores what Set would
// store for the same bytes as a C string, so never a byte past the view nor one from the first NUL on.
TEST(MemRecordValues, SetTextOfAViewStoresWhatSetStoresForTheSameCString) {
    CMemRecord set = makeSet("N[I],P[R8.2],T[C4]");
    EXPECT_FALSE(set.SetText("T", "x")); // no row yet
    set.Append();
    const std::string_view bytes = "  -42.75|tail";
    const std::string_view head = bytes.substr(0, 8); // "  -42.75", not terminated where the view ends
    EXPECT_TRUE(set.SetText("T", head));
    EXPECT_EQ(set.GetString("T").str(), "  -42.75");
    EXPECT_TRUE(set.SetText("N", bytes.substr(0, 4))); // "  -4": the view ends before the rest of the digits
    EXPECT_EQ(set.GetLong("N"), -4);
    EXPECT_TRUE(set.SetText("P", head));
    EXPECT_EQ(set.GetString("P"), "-42.75");
    EXPECT_TRUE(set.SetText("P", bytes.substr(0, 6))); // "  -42." reads as -42
    EXPECT_EQ(set.GetString("P"), "-42.00");

    const std::string withNul("ab\0cd", 5);
    EXPECT_TRUE(set.SetText("T", withNul));
    EXPECT_EQ(set.GetString("T").str(), "ab");
    EXPECT_TRUE(set.SetText("N", std::string_view("\0"
                                                  "12",
                                                  3)));
    EXPECT_EQ(set.GetLong("N"), 0);
    EXPECT_TRUE(set.SetText("T", std::string_view()));
    EXPECT_EQ(set.GetString("T").str(), "");
    EXPECT_FALSE(set.SetText("nope", "x"));
    EXPECT_FALSE(set.SetText("T", "x", 3)); // no such row

    // The same column set both ways gives the same cells.
    set.Append();
    const std::string gbk = GBK("已触发").str();
    EXPECT_TRUE(set.SetText("T", gbk, 0));
    EXPECT_TRUE(set.Set("T", gbk.c_str(), 1));
    EXPECT_EQ(set.GetCellString(0, 2), set.GetCellString(1, 2));
}

TEST(MemRecordValues, NoCurrentRowOrUnknownColumnGivesEmptyValues) {
    CMemRecord set = makeSet("N[I],T[C8],P[R8.2]");
    EXPECT_EQ(set.GetString("T"), "");
    EXPECT_EQ(set.GetLong("N"), 0);
    EXPECT_EQ(set.GetDouble("P"), 0.0);
    EXPECT_FALSE(set.Set("T", "x"));
    EXPECT_FALSE(set.Set("N", 1L));

    set.Append();
    set.Set("N", 5L);
    EXPECT_FALSE(set.Set("nope", "x"));
    EXPECT_EQ(set.GetString("nope"), "");
    EXPECT_EQ(set.GetString(nullptr), "");
    EXPECT_EQ(set.GetString("N", 1), ""); // no such row
    EXPECT_EQ(set.GetString("N", -5), "");
    EXPECT_FALSE(set.Set("N", 9L, 3));
    EXPECT_EQ(set.GetCellString(-1, 0), "");
    EXPECT_EQ(set.GetCellString(0, 7), "");
    EXPECT_EQ(set.GetField(99).name, "");

    set.Skip(1); // past the end
    EXPECT_TRUE(set.Eof());
    EXPECT_EQ(set.GetLong("N"), 0);
    EXPECT_FALSE(set.Set("N", 1L));
    EXPECT_EQ(set.GetLong("N", 0), 5); // a row by number still reads
}

TEST(MemRecordValues, WritesByIndexFollowTheColumnsOfTheCurrentLayout) {
    CMemRecord set = makeSet("N[I],T[C8],P[R8.2]");
    EXPECT_FALSE(set.SetFieldText(1, "x")); // no current row
    set.Append();
    const unsigned long long before = set.GetChangeStamp();
    for (const int bad : {-1, 3, 1 << 30, -(1 << 30)}) {
        EXPECT_FALSE(set.SetFieldText(bad, "7"));
        EXPECT_FALSE(set.SetFieldLong(bad, 7));
    }
    EXPECT_FALSE(set.SetFieldText(0, "7", 1)); // no such row
    EXPECT_EQ(set.GetChangeStamp(), before);

    EXPECT_TRUE(set.SetFieldText(0, "42abc"));
    EXPECT_TRUE(set.SetFieldText(1, std::string_view("ab\0cd", 5)));
    EXPECT_TRUE(set.SetFieldText(2, "3.25"));
    EXPECT_NE(set.GetChangeStamp(), before);
    EXPECT_EQ(set.GetLong("N"), 42);
    EXPECT_EQ(set.GetString("T"), "ab");
    EXPECT_EQ(set.GetDouble("P"), 3.25);
    EXPECT_TRUE(set.SetFieldLong(1, -5));
    EXPECT_EQ(set.GetString("T"), "-5");

    // The same indexes after new columns reach the new columns, with their types.
    ASSERT_TRUE(set.Create("T[C8],P[R8.2]"));
    set.Append();
    EXPECT_TRUE(set.SetFieldText(0, "12.5"));
    EXPECT_TRUE(set.SetFieldText(1, "12.5"));
    EXPECT_FALSE(set.SetFieldText(2, "1"));
    EXPECT_EQ(set.GetString("T"), "12.5");
    EXPECT_EQ(set.GetDouble("P"), 12.5);
    CMemRecord copy(set);
    EXPECT_TRUE(copy.SetFieldLong(1, 3));
    EXPECT_EQ(copy.GetDouble("P"), 3.0);
    EXPECT_EQ(set.GetDouble("P"), 12.5);
}

TEST(MemRecordValues, FreshRowsAreEmpty) {
    CMemRecord set = makeSet("N[I],T[C8],P[R8.2]");
    set.Append(nullptr, 3);
    EXPECT_EQ(set.GetRecordCount(), 3);
    EXPECT_EQ(set.GetRecNo(), 2); // the last added row is current
    EXPECT_EQ(set.GetString("N"), "0");
    EXPECT_EQ(set.GetString("T"), "");
    EXPECT_EQ(set.GetString("P"), "0.00");
}

CMemRecord numbered(std::initializer_list<long> values) {
    CMemRecord set = makeSet("N[I],T[C8]");
    for (const long v : values) {
        set.Append(nullptr, 1);
        set.Set("N", v);
        set.Set("T", std::to_string(v * 10).c_str());
    }
    return set;
}

std::string walk(CMemRecord& set) {
    std::string seen;
    for (set.GoTop(); !set.Eof(); set.Skip(1))
        seen += std::to_string(set.GetLong("N")) + ",";
    return seen;
}

TEST(MemRecordCursor, DeleteInAWalkRemovesAdjacentMatches) {
    CMemRecord set = numbered({1, 2, 2, 3, 2, 2});
    set.GoTop();
    while (!set.Eof()) {
        if (set.GetLong("N") == 2)
            set.Delete(); // the following row becomes current: no Skip
        else
            set.Skip(1);
    }
    EXPECT_EQ(walk(set), "1,3,");
    EXPECT_EQ(set.GetRecordCount(), 2);
}

TEST(MemRecordCursor, DeleteKeepsOtherRowsIntact) {
    CMemRecord set = numbered({1, 2, 3});
    set.Go(1);
    set.Delete();
    EXPECT_EQ(set.GetRecNo(), 1);
    EXPECT_EQ(set.GetString("T"), "30");
    set.Delete();
    EXPECT_TRUE(set.Eof());
    set.Delete(); // at Eof: nothing
    EXPECT_EQ(walk(set), "1,");
}

TEST(MemRecordCursor, MovesAndBounds) {
    CMemRecord empty = makeSet("N[I]");
    EXPECT_EQ(empty.GoTop(), nullptr);
    EXPECT_TRUE(empty.Eof());
    EXPECT_TRUE(empty.Bof());
    EXPECT_EQ(empty.Skip(1), nullptr);
    EXPECT_EQ(empty.GoBottom(), nullptr);

    CMemRecord set = numbered({1, 2, 3});
    EXPECT_NE(set.GoTop(), nullptr);
    EXPECT_FALSE(set.Bof());
    EXPECT_EQ(set.GetLong("N"), 1);
    set.Skip(-1);
    EXPECT_TRUE(set.Bof());
    EXPECT_EQ(set.GetLong("N"), 1);
    set.GoBottom();
    EXPECT_EQ(set.GetLong("N"), 3);
    EXPECT_EQ(set.Skip(5), nullptr);
    EXPECT_TRUE(set.Eof());
    EXPECT_EQ(set.GetRecNo(), 3);
    set.Go(1);
    EXPECT_EQ(set.GetLong("N"), 2);
    set.Go(7);
    EXPECT_TRUE(set.Eof());
    set.Zap();
    EXPECT_EQ(set.GetRecordCount(), 0);
    EXPECT_TRUE(set.Eof());
    EXPECT_EQ(set.GetFieldCount(), 2); // Zap keeps the columns
}

TEST(MemRecordCursor, LocateFindsTheFirstMatch) {
    CMemRecord set = numbered({5, 7, 7, 9});
    set.GoTop();
    EXPECT_TRUE(set.Locate("N", 7));
    EXPECT_EQ(set.GetRecNo(), 1);
    EXPECT_TRUE(set.Locate("T", 90)); // a text column compares by its integer value
    EXPECT_EQ(set.GetRecNo(), 3);
    EXPECT_FALSE(set.Locate("N", 8));
    EXPECT_EQ(set.GetRecNo(), 3); // unchanged on failure
    EXPECT_FALSE(set.Locate("nope", 5));
}

TEST(MemRecordCopy, AssignmentCopiesColumnsAndRowsIndependently) {
    CMemRecord source = numbered({1, 2, 3});
    CMemRecord copy = makeSet("Other[C2]");
    EXPECT_EQ(copy = source, 3);
    EXPECT_EQ(copy.GetFieldCount(), 2);
    EXPECT_EQ(walk(copy), "1,2,3,");

    // Filtering the copy leaves the source alone, and the reverse.
    copy.GoTop();
    copy.Delete();
    copy.Set("T", "changed");
    EXPECT_EQ(walk(source), "1,2,3,");
    source.GoTop();
    EXPECT_EQ(source.GetString("T"), "10");

    CMemRecord constructed(source);
    EXPECT_EQ(walk(constructed), "1,2,3,");
    source.Zap();
    EXPECT_EQ(constructed.GetRecordCount(), 3);

    const CMemRecord& alias = constructed;
    constructed = alias; // self-assignment keeps everything
    EXPECT_EQ(walk(constructed), "1,2,3,");
}

} // namespace

namespace {

// Rows live in chunks that a set keeps when it is emptied and hands out again; deleted rows are reused.
// Whatever storage a row gets, it starts empty and its neighbours keep their values.
TEST(MemRecordStorage, ReusedRowsStartEmptyAndNeighboursKeepTheirValues) {
    CMemRecord set = makeSet("N[I],T[C8],P[R8.2],U[C4]");
    const std::string longText(100, 'x'); // beyond any in-place string buffer
    const auto fill = [&](long count, long base) {
        for (long i = 0; i < count; ++i) {
            set.Append();
            ASSERT_EQ(set.GetLong("N"), 0);
            ASSERT_EQ(set.GetString("T"), "");
            ASSERT_EQ(set.GetDouble("P"), 0.0);
            ASSERT_EQ(set.GetString("U"), "");
            set.Set("N", base + i);
            set.Set("T", (longText + std::to_string(base + i)).c_str());
            set.Set("P", "1.25");
            set.Set("U", "u");
        }
    };
    fill(3000, 0); // several chunks
    set.Zap();
    EXPECT_EQ(set.GetRecordCount(), 0);
    fill(2000, 10000);
    ASSERT_EQ(set.GetRecordCount(), 2000);
    EXPECT_EQ(set.GetLong("N", 0), 10000);
    EXPECT_EQ(set.GetString("T", 1999), CString(longText + "11999"));

    set.Go(5);
    set.Delete();
    set.Go(0);
    set.Delete();
    fill(3, 20000); // two take the deleted rows' places in storage
    ASSERT_EQ(set.GetRecordCount(), 2001);
    EXPECT_EQ(set.GetLong("N", 0), 10001);
    EXPECT_EQ(set.GetLong("N", 4), 10006);
    EXPECT_EQ(set.GetString("T", 1997), CString(longText + "11999"));
    EXPECT_EQ(set.GetLong("N", 2000), 20002);
    EXPECT_EQ(set.GetString("T", 1998), CString(longText + "20000"));
}

// Text cells keep short texts inside the row and longer ones in a block of their own: every length across
// that line, a cell going from one to the other and back, and a cell written from its own bytes (the view
// GetCellText gives) or from a neighbour's must read back exactly.
TEST(MemRecordStorage, TextsOfEveryLengthAcrossTheInlineLimitReadBackExactly) {
    CMemRecord set = makeSet("A[C8],B[C8],N[I]");
    set.Append();
    std::string text;
    for (int length = 0; length <= 40; ++length) {
        text = std::string(static_cast<std::size_t>(length), 'a') + std::to_string(length);
        text.resize(static_cast<std::size_t>(length));
        ASSERT_TRUE(set.SetFieldText(0, text));
        ASSERT_EQ(set.GetCellText(0, 0), text) << length;
        ASSERT_EQ(set.GetCellText(0, 1), "") << length; // the neighbour untouched
    }
    for (const std::size_t length : {40u, 3u, 15u, 16u, 100u, 0u, 7u}) {
        const std::string other(length, static_cast<char>('0' + length % 10));
        ASSERT_TRUE(set.SetFieldText(1, other));
        ASSERT_EQ(set.GetString("B").str(), other) << length;
    }
    // From its own bytes: a prefix, a suffix and the whole, inline and in a block.
    for (const std::string& start : {std::string("0123456789abcd"), std::string(60, 'q') + "tail"}) {
        ASSERT_TRUE(set.SetFieldText(0, start));
        ASSERT_TRUE(set.SetFieldText(0, set.GetCellText(0, 0)));
        EXPECT_EQ(set.GetCellText(0, 0), start);
        ASSERT_TRUE(set.SetFieldText(0, set.GetCellText(0, 0).substr(4)));
        EXPECT_EQ(set.GetCellText(0, 0), start.substr(4));
        ASSERT_TRUE(set.SetFieldText(0, set.GetCellText(0, 0).substr(0, 3)));
        EXPECT_EQ(set.GetCellText(0, 0), start.substr(4, 3));
    }
    // A whole row at once: what each single write would do; a bad column is skipped and reported.
    const std::string longName(30, 'n');
    const FieldWrite row[] = {FieldWrite::Text(0, longName), FieldWrite::Long(9, 1), FieldWrite::Long(1, -12),
                              FieldWrite::Text(2, "77x")};
    EXPECT_FALSE(set.SetFields(row));
    EXPECT_EQ(set.GetString("A").str(), longName);
    EXPECT_EQ(set.GetString("B"), "-12");
    EXPECT_EQ(set.GetLong("N"), 77);
    EXPECT_TRUE(set.SetFields(std::span(row).subspan(2)));
    EXPECT_FALSE(set.SetFields(row, 5)); // no such row: nothing written
    CMemRecord copy(set);
    set.Zap();
    EXPECT_EQ(copy.GetString("A").str(), longName);
}

TEST(MemRecordStorage, RedefinedColumnsGetRowsOfTheirOwnSize) {
    CMemRecord set = makeSet("N[I]");
    for (long i = 0; i < 100; ++i) {
        set.Append();
        set.Set("N", i);
    }
    ASSERT_TRUE(set.Create("A[C8],B[C8],C[C8],D[I],E[R8.2]"));
    EXPECT_EQ(set.GetRecordCount(), 0);
    for (long i = 0; i < 100; ++i) {
        set.Append();
        EXPECT_EQ(set.GetString("C"), "");
        set.Set("C", std::to_string(i).c_str());
        set.Set("E", i);
    }
    EXPECT_EQ(set.GetString("C", 99), "99");
    EXPECT_EQ(set.GetDouble("E", 98), 98.0);
    EXPECT_EQ(set.GetString("A", 50), "");
}

TEST(MemRecordStorage, ACopyOwnsItsRows) {
    CMemRecord set = numbered({1, 2, 3});
    CMemRecord copy(set);
    set.Zap();
    set.Append();
    set.Set("T", "new");
    EXPECT_EQ(walk(copy), "1,2,3,");
    EXPECT_EQ(copy.GetString("T", 0), "10");
}

// What is derived from a set (an index of it, say) is known to be stale by the stamp.
TEST(MemRecordStorage, TheChangeStampMovesWithEveryChangeAndOnlyThen) {
    CMemRecord set = numbered({1, 2});
    std::vector<unsigned long long> seen{set.GetChangeStamp()};
    const auto changes = [&] {
        const unsigned long long now = set.GetChangeStamp();
        const bool isNew = std::find(seen.begin(), seen.end(), now) == seen.end();
        seen.push_back(now);
        return isNew;
    };

    set.GoTop();
    set.Skip(1);
    set.Go(0);
    set.GoBottom();
    set.Locate("N", 1L);
    (void)set.GetString("T");
    (void)set.GetCellLong(0, 0);
    EXPECT_EQ(set.GetChangeStamp(), seen.back()); // reads and cursor moves change nothing

    EXPECT_TRUE(set.Set("N", 5L) && changes());
    EXPECT_TRUE(set.Set("T", "x", 1) && changes());
    EXPECT_FALSE(set.Set("NOPE", 1L));
    EXPECT_EQ(set.GetChangeStamp(), seen.back()); // a write that does nothing is no change
    set.Append();
    EXPECT_TRUE(changes());
    set.Delete();
    EXPECT_TRUE(changes());
    set.Zap();
    EXPECT_TRUE(changes());
    set.Create("N[I],T[C8]");
    EXPECT_TRUE(changes());

    // A set replaced by another never shows one of its own earlier stamps again, nor the other's.
    CMemRecord other = numbered({7});
    seen.push_back(other.GetChangeStamp());
    set = other;
    EXPECT_TRUE(changes());
    CMemRecord copy(set);
    EXPECT_NE(copy.GetChangeStamp(), set.GetChangeStamp());
}

} // namespace
