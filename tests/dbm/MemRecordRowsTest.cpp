// The record set's rows: the cursor's moves and deletes, Locate, copies, and the storage that rows are
// kept in and reused from.
#include "tests/dbm/MemRecordSets.h"

#include <algorithm>
#include <initializer_list>
#include <span>
#include <string>
#include <vector>

namespace {

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

// A large set that goes leaves its rows, built, to the next sets of its columns, as a refreshed list's
// query fills a set of its own while the rows shown stay, and the shown set goes once the new one is in
// place. Rows handed on start empty (long texts included) and belong to one set only; the set shown
// meanwhile is never touched, nor are sets after the memory kept has been given back.
TEST(MemRecordStorage, RowsOfASetThatWentStartEmptyInTheNextAndBelongToItAlone) {
    constexpr long kRows = 20000; // past the chunks a small set is given
    const std::string longText(40, 'x');
    const auto fill = [&](CMemRecord& set, long base) {
        for (long i = 0; i < kRows; ++i) {
            set.Append();
            ASSERT_TRUE(set.GetLong("N") == 0 && set.GetString("T") == "" && set.GetDouble("P") == 0.0 &&
                        set.GetString("U") == "")
                << "row " << i << " of the set filled from " << base;
            set.Set("N", base + i);
            set.Set("T", (longText + std::to_string(base + i)).c_str());
            set.Set("P", "1.25");
            set.Set("U", "u");
        }
    };
    const auto holds = [&](const CMemRecord& set, long base) {
        return set.GetRecordCount() == kRows && set.GetLong("N", 0) == base &&
               set.GetLong("N", kRows - 1) == base + kRows - 1 &&
               set.GetString("T", kRows / 2) == CString(longText + std::to_string(base + kRows / 2));
    };
    const char* layout = "N[I],T[C8],P[R8.2],U[C4]";
    CMemRecord shown = makeSet(layout);
    fill(shown, 0);
    for (const long base : {100000L, 200000L}) {
        CMemRecord fresh = makeSet(layout);
        fill(fresh, base);
        shown.Swap(fresh);
        fresh = CMemRecord(); // the rows shown before go
        EXPECT_TRUE(holds(shown, base));
    }
    // Two sets filled side by side after a third went: each has rows of its own.
    {
        CMemRecord going = makeSet(layout);
        fill(going, 300000);
    }
    CMemRecord first = makeSet(layout), second = makeSet(layout);
    fill(first, 400000);
    fill(second, 500000);
    EXPECT_TRUE(holds(first, 400000));
    EXPECT_TRUE(holds(second, 500000));
    EXPECT_TRUE(holds(shown, 200000));

    first = CMemRecord();
    ReleaseSpareRecordMemory();
    CMemRecord after = makeSet(layout);
    fill(after, 600000);
    EXPECT_TRUE(holds(after, 600000));
    EXPECT_TRUE(holds(second, 500000));
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
