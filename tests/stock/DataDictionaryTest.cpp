#include "host/stock/DataDictionary.h"
#include "host/dbm/MemRecord.h"

#include <gtest/gtest.h>

#include <string>
#include <utility>
#include <vector>

namespace {

class DataDictionaryTest : public ::testing::Test {
protected:
    void SetUp() override {
        CMemRecord xtdm;
        ASSERT_TRUE(xtdm.Create("FLDM[C20],IBM[I],CBM[C10],NOTE[C40]"));
        add(xtdm, "CFZT", 0, "0", "未触发");
        add(xtdm, "CFZT", 1, "1", "已触发");
        add(xtdm, "QHCXBZ", 1, "A", "撤销");
        add(xtdm, "QHCXBZ", 2, "a", "小写");
        m_dictionary.AddTable("QHXTDM", xtdm);

        CMemRecord jylb;
        ASSERT_TRUE(jylb.Create("JYLB[C4],JYLBMC[C20]"));
        jylb.Append();
        jylb.Set("JYLB", "01"); // a number kept as text still matches integer code 1
        jylb.Set("JYLBMC", GBK("投机"));
        jylb.Append();
        jylb.Set("JYLB", ""); // a blank code is not code 0
        jylb.Set("JYLBMC", GBK("空"));
        m_dictionary.AddTable("JYLB", jylb);

        CMemRecord jys;
        ASSERT_TRUE(jys.Create("JYS[C2],JYSJC[C10]"));
        jys.Append();
        jys.Set("JYS", "S");
        jys.Set("JYSJC", GBK("上期所"));
        m_dictionary.AddTable("JYS", jys);
    }

    static void add(CMemRecord& table, const char* category, long ibm, const char* cbm,
                    const char* noteUtf8) {
        table.Append();
        table.Set("FLDM", category);
        table.Set("IBM", ibm);
        table.Set("CBM", cbm);
        table.Set("NOTE", CString::FromUtf8(noteUtf8));
    }

    CDataDictionary m_dictionary;
};

TEST_F(DataDictionaryTest, CategoryWithIntegerCode) {
    EXPECT_EQ(m_dictionary.GetXTDM("QHXTDM", "FLDM", "CFZT", "IBM", 1L, "NOTE"), GBK("已触发"));
    EXPECT_EQ(m_dictionary.GetXTDM("QHXTDM", "FLDM", "CFZT", "IBM", 0L, "NOTE"), GBK("未触发"));
    EXPECT_EQ(m_dictionary.GetXTDM("QHXTDM", "FLDM", "CFZT", "IBM", 2L, "NOTE"), "");
    EXPECT_EQ(m_dictionary.GetXTDM("QHXTDM", "FLDM", "QHCXBZ", "IBM", 0L, "NOTE"), ""); // category must match
}

TEST_F(DataDictionaryTest, CategoryWithTextCodeComparesByteForByte) {
    EXPECT_EQ(m_dictionary.GetXTDM("QHXTDM", "FLDM", "QHCXBZ", "CBM", "A", "NOTE"), GBK("撤销"));
    EXPECT_EQ(m_dictionary.GetXTDM("QHXTDM", "FLDM", "QHCXBZ", "CBM", "a", "NOTE"), GBK("小写"));
    EXPECT_EQ(m_dictionary.GetXTDM("QHXTDM", "FLDM", "QHCXBZ", "CBM", " A", "NOTE"), "");
    EXPECT_EQ(m_dictionary.GetXTDM("QHXTDM", "FLDM", "CFZT", "CBM", "A", "NOTE"), "");
}

TEST_F(DataDictionaryTest, CodeAloneForms) {
    EXPECT_EQ(m_dictionary.GetXTDM("JYLB", "JYLB", 1, "JYLBMC"), GBK("投机"));
    EXPECT_EQ(m_dictionary.GetXTDM("JYLB", "JYLB", 0, "JYLBMC"), "");
    EXPECT_EQ(m_dictionary.GetXTDM("JYS", "JYS", "S", "JYSJC"), GBK("上期所"));
    EXPECT_EQ(m_dictionary.GetXTDM("JYS", "JYS", "D", "JYSJC"), "");
}

TEST_F(DataDictionaryTest, MissingTablesAndColumnsGiveEmptyText) {
    EXPECT_EQ(m_dictionary.GetXTDM("NOPE", "JYS", "S", "JYSJC"), "");
    EXPECT_EQ(m_dictionary.GetXTDM("JYS", "NOPE", "S", "JYSJC"), "");
    EXPECT_EQ(m_dictionary.GetXTDM("JYS", "JYS", "S", "NOPE"), "");
    EXPECT_EQ(m_dictionary.GetXTDM("QHXTDM", "NOPE", "CFZT", "IBM", 1L, "NOTE"), "");
    EXPECT_EQ(m_dictionary.GetXTDM(nullptr, nullptr, nullptr, nullptr), "");
    EXPECT_EQ(m_dictionary.GetTable("NOPE"), nullptr);
}

TEST_F(DataDictionaryTest, TablesAreCopiedAndReplacedByName) {
    CMemRecord* held = m_dictionary.GetTable("JYS");
    ASSERT_NE(held, nullptr);
    held->GoBottom();
    const long before = held->GetRecNo();
    EXPECT_EQ(m_dictionary.GetXTDM("JYS", "JYS", "S", "JYSJC"), GBK("上期所"));
    EXPECT_EQ(held->GetRecNo(), before); // lookups leave the table's cursor alone

    CMemRecord replacement;
    replacement.Create("JYS[C2],JYSJC[C10]");
    replacement.Append();
    replacement.Set("JYS", "S");
    replacement.Set("JYSJC", "new");
    m_dictionary.AddTable("JYS", replacement);
    replacement.Set("JYSJC", "changed after");
    EXPECT_EQ(m_dictionary.GetXTDM("JYS", "JYS", "S", "JYSJC"), "new");
}

// Lookups go through indexes built on first use: what they answer must follow every change of a table,
// whether it is replaced or changed in place through GetTable(), and the first matching row still wins.
TEST_F(DataDictionaryTest, LookupsFollowATableChangedInPlace) {
    CMemRecord* xtdm = m_dictionary.GetTable("QHXTDM");
    ASSERT_NE(xtdm, nullptr);
    EXPECT_EQ(m_dictionary.GetXTDM("QHXTDM", "FLDM", "CFZT", "IBM", 1L, "NOTE"), GBK("已触发"));
    EXPECT_EQ(m_dictionary.GetXTDM("QHXTDM", "FLDM", "CFZT", "CBM", "1", "NOTE"), GBK("已触发"));

    add(*xtdm, "CFZT", 1, "1", "later"); // a second row for the pair: the first still wins
    EXPECT_EQ(m_dictionary.GetXTDM("QHXTDM", "FLDM", "CFZT", "IBM", 1L, "NOTE"), GBK("已触发"));
    add(*xtdm, "CFZT", 9, "9", "nine"); // a new pair
    EXPECT_EQ(m_dictionary.GetXTDM("QHXTDM", "FLDM", "CFZT", "IBM", 9L, "NOTE"), "nine");
    EXPECT_EQ(m_dictionary.GetXTDM("QHXTDM", "FLDM", "CFZT", "CBM", "9", "NOTE"), "nine");

    xtdm->Go(1); // the first CFZT 1 row goes: the later one answers
    xtdm->Delete();
    EXPECT_EQ(m_dictionary.GetXTDM("QHXTDM", "FLDM", "CFZT", "IBM", 1L, "NOTE"), "later");
    xtdm->Set("NOTE", "edited", 0); // a text changed in place
    EXPECT_EQ(m_dictionary.GetXTDM("QHXTDM", "FLDM", "CFZT", "IBM", 0L, "NOTE"), "edited");
    xtdm->Set("IBM", 5L, 0); // a code changed in place
    EXPECT_EQ(m_dictionary.GetXTDM("QHXTDM", "FLDM", "CFZT", "IBM", 0L, "NOTE"), "");
    EXPECT_EQ(m_dictionary.GetXTDM("QHXTDM", "FLDM", "CFZT", "IBM", 5L, "NOTE"), "edited");
    xtdm->Zap();
    EXPECT_EQ(m_dictionary.GetXTDM("QHXTDM", "FLDM", "CFZT", "IBM", 5L, "NOTE"), "");

    // Replaced after lookups: the new table answers, on every form that was looked up before.
    CMemRecord replacement;
    ASSERT_TRUE(replacement.Create("FLDM[C20],IBM[I],CBM[C10],NOTE[C40]"));
    add(replacement, "CFZT", 1, "1", "replaced");
    m_dictionary.AddTable("QHXTDM", replacement);
    EXPECT_EQ(m_dictionary.GetXTDM("QHXTDM", "FLDM", "CFZT", "IBM", 1L, "NOTE"), "replaced");
    EXPECT_EQ(m_dictionary.GetXTDM("QHXTDM", "FLDM", "CFZT", "CBM", "1", "NOTE"), "replaced");
    EXPECT_EQ(m_dictionary.GetXTDM("QHXTDM", "FLDM", "CFZT", "IBM", 9L, "NOTE"), "");
}

TEST_F(DataDictionaryTest, IntegerCodesReadAsAtolDoesFromAnyColumnType) {
    CMemRecord codes;
    ASSERT_TRUE(codes.Create("K[C8],T[C8]"));
    for (const auto& [key, text] : std::vector<std::pair<const char*, const char*>>{
             {"x7", "letter first"}, {"", "blank"}, {" +7", "signed"}, {"7", "plain"}, {"-3z", "negative"}}) {
        codes.Append();
        codes.Set("K", key);
        codes.Set("T", text);
    }
    m_dictionary.AddTable("TXT", codes);
    EXPECT_EQ(m_dictionary.GetXTDM("TXT", "K", 7, "T"), "signed"); // the first row that reads as 7
    EXPECT_EQ(m_dictionary.GetXTDM("TXT", "K", -3, "T"), "negative");
    EXPECT_EQ(m_dictionary.GetXTDM("TXT", "K", 0, "T"), "");        // neither "" nor "x7" is code 0
    EXPECT_EQ(m_dictionary.GetXTDM("TXT", "K", "7", "T"), "plain"); // as text, byte for byte
    EXPECT_EQ(m_dictionary.GetXTDM("TXT", "K", "", "T"), "blank");

    CMemRecord reals;
    ASSERT_TRUE(reals.Create("C[I],K[R8.2],T[C8]"));
    reals.Append();
    reals.Set("C", 12L);
    reals.Set("K", "1.9");
    reals.Set("T", "real");
    m_dictionary.AddTable("REAL", reals);
    EXPECT_EQ(m_dictionary.GetXTDM("REAL", "K", 1, "T"), "real");      // cut toward zero
    EXPECT_EQ(m_dictionary.GetXTDM("REAL", "K", "1.90", "T"), "real"); // its text has the column's decimals
    EXPECT_EQ(m_dictionary.GetXTDM("REAL", "C", "12", "K", 1L, "T"), "real"); // an integer category column
    EXPECT_EQ(m_dictionary.GetXTDM("REAL", "C", "012", "K", 1L, "T"), "");
}

TEST_F(DataDictionaryTest, LookupsMovingBetweenTablesAnswerFromTheNamedOne) {
    for (int round = 0; round < 2; ++round) {
        EXPECT_EQ(m_dictionary.GetXTDM("JYS", "JYS", "S", "JYSJC"), GBK("上期所"));
        EXPECT_EQ(m_dictionary.GetXTDM("JYLB", "JYLB", 1, "JYLBMC"), GBK("投机"));
        EXPECT_EQ(m_dictionary.GetXTDM("JYSX", "JYS", "S", "JYSJC"), "");
        std::string name = "JYS"; // the same text from another buffer
        EXPECT_EQ(m_dictionary.GetXTDM(name.c_str(), "JYS", "S", "JYSJC"), GBK("上期所"));
        EXPECT_EQ(m_dictionary.GetXTDM("JY", "JYS", "S", "JYSJC"), "");
        EXPECT_EQ(m_dictionary.GetXTDM("QHXTDM", "FLDM", "QHCXBZ", "CBM", "a", "NOTE"), GBK("小写"));
    }
}

TEST(GlobalTableMap, HoldsTablesByName) {
    CMemRecord contracts;
    contracts.Create("HYDM[C16]");
    theGloalMem.SetAt("QHHYDM", &contracts);
    void* found = nullptr;
    EXPECT_TRUE(theGloalMem.Lookup("QHHYDM", found));
    EXPECT_EQ(found, &contracts);
    EXPECT_FALSE(theGloalMem.Lookup("qhhydm", found));
    EXPECT_TRUE(theGloalMem.RemoveKey("QHHYDM"));
    EXPECT_FALSE(theGloalMem.Lookup("QHHYDM", found));
}

} // namespace
