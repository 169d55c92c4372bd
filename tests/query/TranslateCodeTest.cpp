#include "QueryTestData.h"

#include "module/ModuleState.h"
#include "query/TranslateCode.h"

#include <gtest/gtest.h>

using querytest::Gbk;
using querytest::Utf8;

namespace {

std::string Translate(const std::string& category, const std::string& codeUtf8) {
    return Utf8(TranslateCode(CString(category), CString::FromUtf8(codeUtf8)));
}

class TranslateCodeTest : public ::testing::Test {
protected:
    querytest::CodeTables tables;
};

TEST_F(TranslateCodeTest, KnowsFiftyFourCategories) {
    EXPECT_EQ(TranslateCodeCategoryCount(), 54);
}

TEST_F(TranslateCodeTest, HostTablesByTextKeyPassTheCodeUnchanged) {
    EXPECT_EQ(Translate("JYS", "SH"), "上交所");
    EXPECT_EQ(Translate("BZ", "RMB"), "人民币");
    EXPECT_EQ(Translate("YYB", "0101"), "总部");
    EXPECT_EQ(Translate("ZQLB", "A0"), "A股");
    EXPECT_EQ(Translate("YWKM", "101"), "存款");
    EXPECT_EQ(Translate("QHPZ", "cu"), "铜");
    EXPECT_EQ(Translate("QHJYS", "DL"), "大商所");
    // The key is the text as delivered: no trimming, no case folding.
    EXPECT_EQ(Translate("QHJYS", " DL"), "");
    EXPECT_EQ(Translate("QHPZ", "CU"), "");
}

TEST_F(TranslateCodeTest, HostTableByIntegerKeyReadsTheCodesNumber) {
    EXPECT_EQ(Translate("JYLB", "12"), "期货开仓");
    EXPECT_EQ(Translate("JYLB", "  12abc"), "期货开仓");
    EXPECT_EQ(Translate("JYLB", "13"), "");
}

TEST_F(TranslateCodeTest, BankCategoriesReturnTheCodeItself) {
    EXPECT_EQ(Translate("YH", "工行 01"), "工行 01");
    EXPECT_EQ(Translate("YHMC", " x "), " x ");
    EXPECT_EQ(Translate("YH", ""), "");
}

TEST_F(TranslateCodeTest, EverySystemCodeCategoryLooksUpItsOwnName) {
    for (const char* name : {"ZQTJFL", "KHTZFL", "KHZT",   "LPZSFS", "GDLB",   "WTSBJG", "JGFJBZ", "QSFYXM",
                             "ZQJYZT", "ZHZT",   "YHZHZT", "GYZT",   "ZJLB",   "XLDM",   "ZYDM",   "ZJZHLB",
                             "JGLB",   "CWLX",   "GDJSLX", "YWKMLB", "YWTJFL", "GDZT",   "GYFL",   "QSWJLX"})
        EXPECT_EQ(Translate(name, "7"), std::string(name) + "文本") << name;
    EXPECT_EQ(Translate("KHZT", "3"), "冻结");
    EXPECT_EQ(Translate("KHZT", "x"), "正常"); // no digits reads as 0
}

TEST_F(TranslateCodeTest, FuturesCategoriesUseTheFuturesDictionary) {
    EXPECT_EQ(Translate("QHMMFX", "1"), "买入");
    EXPECT_EQ(Translate("QHMMFX", "   2"), "卖出");
    EXPECT_EQ(Translate("QHMMFX", "ab"), "代码零");
    EXPECT_EQ(Translate("QHKPFX", "3"), "平今");
    EXPECT_EQ(Translate("QHTZLB", "3"), "套保");
    EXPECT_EQ(Translate("QHJSLX", "1"), "逐日");
    EXPECT_EQ(Translate("JYBMSX", "2"), "一般");
    // The order-report result is filed under "SBJG", never under its own name.
    EXPECT_EQ(Translate("QHWTSBJG", "1"), "已报");
    EXPECT_EQ(Translate("QHMMFX", "9"), "");
}

TEST_F(TranslateCodeTest, CancelFlagIsLookedUpByCharacterCode) {
    EXPECT_EQ(Translate("QHCXBZ", "X"), "撤单");
    EXPECT_EQ(Translate("QHCXBZ", "0"), ""); // not by the integer code
}

TEST_F(TranslateCodeTest, BitSetsJoinTheTextOfEverySetBitLowestFirst) {
    EXPECT_EQ(Translate("WTFS", "0"), "");
    EXPECT_EQ(Translate("WTFS", "5"), "电话,网上");
    // Bit 1 has no text: its comma is dropped with the leading ones.
    EXPECT_EQ(Translate("MMXZ", "5"), "仅卖");
    // Bits without text between two texts keep their commas.
    EXPECT_EQ(Translate("WTFS", "7"), "电话,WTFS位二,网上");
    EXPECT_EQ(Translate("WTFS", "3"), "电话,WTFS位二");
    // A negative value has the top bit set; its text comes last.
    EXPECT_EQ(Translate("DLQX", "-2147483647"), "低位,高位");
    EXPECT_EQ(Translate("DLQX", "-2147483648"), "高位");
    for (const char* name : {"DLQX", "WTFS", "ZHSX_ZJ", "FWXM", "JYSJYXZ", "ZJJDFX", "KHSX", "MMXZ", "SBSJXZ",
                             "CQLB", "GYFJQX", "GDSX"})
        EXPECT_EQ(Translate(name, "2"), std::string(name) + "位二") << name;
}

TEST_F(TranslateCodeTest, CharacterSetListsContainedCodesInTableOrder) {
    // "B", "A", "AB" and the empty code all occur in "AB"; "BA" and "C" do not; another category's "A"
    // is not listed.
    EXPECT_EQ(Translate("ZQJCLB", "AB"), "乙类,甲类,甲乙,通用");
    EXPECT_EQ(Translate("ZQJCLB", "C"), "丙类,通用");
    EXPECT_EQ(Translate("ZQJCLB", ""), "通用");
    // The walk leaves the host's table past its last row.
    EXPECT_TRUE(tables.xtdmTable.Eof());
}

TEST_F(TranslateCodeTest, CharacterSetMatchesOnlyWholeGbkCharacters) {
    // "丅" is 0x81 0x42 in GBK: its trail byte reads as "B" but is no character "B".
    EXPECT_EQ(Gbk("丅").substr(1), "B");
    EXPECT_EQ(Translate("ZQJCLB", "丅"), "通用");
    EXPECT_EQ(Translate("ZQJCLB", "丅B"), "乙类,通用");
}

TEST_F(TranslateCodeTest, CharacterSetWithoutTheHostTableIsEmpty) {
    CMapStringToPtr emptyMap;
    g_pTableMap = &emptyMap;
    EXPECT_EQ(Translate("ZQJCLB", "AB"), "");
    g_pTableMap = nullptr;
    EXPECT_EQ(Translate("ZQJCLB", "AB"), "");
}

TEST_F(TranslateCodeTest, UnknownLowerCaseAndEmptyCategoriesGiveNothing) {
    EXPECT_EQ(Translate("qhmmfx", "1"), "");
    EXPECT_EQ(Translate("Jys", "SH"), "");
    EXPECT_EQ(Translate("", "1"), "");
    EXPECT_EQ(Translate("QHMMFX ", "1"), "");
    EXPECT_EQ(Translate("PDFX", "1"), ""); // a dictionary category, but not one the translation knows
}

TEST_F(TranslateCodeTest, WithoutADictionaryEveryLookupIsEmpty) {
    g_pDictionary = nullptr;
    EXPECT_EQ(Translate("QHMMFX", "1"), "");
    EXPECT_EQ(Translate("JYS", "SH"), "");
    EXPECT_EQ(Translate("WTFS", "5"), "");
    EXPECT_EQ(Translate("YH", "a"), "a");
}

TEST(CodeToIntegerTest, ReadsLikeAThirtyTwoBitCounter) {
    EXPECT_EQ(CodeToInteger(" \t-12x"), -12);
    EXPECT_EQ(CodeToInteger("+7"), 7);
    EXPECT_EQ(CodeToInteger("x7"), 0);
    EXPECT_EQ(CodeToInteger(""), 0);
    EXPECT_EQ(CodeToInteger("99999999999"), 2147483647);
    EXPECT_EQ(CodeToInteger("-99999999999"), -2147483647 - 1);
}

} // namespace
