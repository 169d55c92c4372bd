// The list loaders over small tables, with the permission request answered by the fake counter server.
#include "ConditionFixture.h"
#include "GuiHost.h"

#include "conditions/ConditionLoaders.h"
#include "controls/ContractComboBox.h"
#include "host/gui/OrvoCheckCombo.h"
#include "host/gui/OrvoComboBox.h"
#include "host/stock/DataDictionary.h"
#include "module/ModuleState.h"
#include "platform/ComboBox.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace condtest {
namespace {

constexpr DWORD kComboStyle = WS_CHILD | WS_VISIBLE | WS_TABSTOP | WS_VSCROLL | CBS_DROPDOWN;

// Each entry as "key text" (UTF-8), in list order.
std::vector<std::string> entries(HWND combo) {
    std::vector<std::string> out;
    for (const auto& entry : orvo::ReadComboState(combo).entries)
        out.push_back(Utf8(entry.key) + " " + Utf8(entry.text));
    return out;
}

class LoaderTest : public ConditionTest {
protected:
    LoaderTest() {
        const RECT rect{10, 10, 200, 30};
        branch.Create(kComboStyle, rect, &host, 9006);
        group.Create(kComboStyle | CBS_SORT, rect, &host, 9007);
        exchange.Create(kComboStyle | CBS_SORT, rect, &host, 9009);
        variety.Create(kComboStyle | CBS_SORT, rect, &host, 9010);
        contract.Create(kComboStyle | CBS_SORT, rect, &host, 9011);
    }

    RecordingWnd host;
    COrvoCheckCombo branch;
    COrvoComboBox group;
    COrvoComboBox exchange;
    COrvoComboBox variety;
    CContractComboBox contract;
};

// ---- branches ----------------------------------------------------------------------------------------

TEST_F(LoaderTest, BranchListSkipsCategoryZeroAndKeepsTableOrder) {
    AddTable("YYB", BranchTable({{"00", "总部", "0", "", ""},
                                 {"0102", "二部", "1", "00", "0"},
                                 {"0101", "一部", "1", "00", "0"},
                                 {"010101", "一部甲", "2", "0101", "1"}}));
    Permit({{"9999", ""}});
    EXPECT_EQ(LoadBranchList(&branch, 1), 1);
    EXPECT_EQ(entries(branch), (std::vector<std::string>{"0102 二部", "0101 一部", "010101 一部甲"}));
}

TEST_F(LoaderTest, BranchPermissionIsASubstringSearch) {
    AddTable("YYB", BranchTable({{"01", "甲", "1", "", ""},
                                 {"0101", "乙", "1", "", ""},
                                 {"0202", "丙", "1", "", ""},
                                 {"00", "总部", "0", "", ""}}));
    Permit({{"0101", ""}}); // 01 lies inside 0101
    EXPECT_EQ(LoadBranchList(&branch, 1), 1);
    EXPECT_EQ(entries(branch), (std::vector<std::string>{"01 甲", "0101 乙"}));

    // Restrict 0: every branch that is not of category "0", whatever the permissions.
    EXPECT_EQ(LoadBranchList(&branch, 0), 1);
    EXPECT_EQ(entries(branch), (std::vector<std::string>{"01 甲", "0101 乙", "0202 丙"}));
}

TEST_F(LoaderTest, PermissionRequestCarriesTheFunctionNumberAndTheLastRowCounts) {
    AddTable("YYB", BranchTable({{"0101", "一部", "1", "", ""}, {"0202", "二部", "1", "", ""}}));
    Permit({{"0101", ""}, {"0202", ""}});
    EXPECT_EQ(LoadBranchList(&branch, 1), 1);
    EXPECT_EQ(entries(branch), (std::vector<std::string>{"0202 二部"}));

    const auto requests = server.Requests(kPermissionFunction);
    ASSERT_EQ(requests.size(), 1u);
    EXPECT_EQ(requests[0].items, (orvo::test::FakeItems{{"517", "893"}}));
}

TEST_F(LoaderTest, NoPermissionRowOrARefusalLeavesRestrictedListsEmpty) {
    AddTable("YYB", BranchTable({{"0101", "一部", "1", "", ""}}));
    AddTable("KHQZ", GroupTable({{"0101", "G01", "甲组"}}));
    Permit({});
    EXPECT_EQ(LoadBranchList(&branch, 1), 1);
    EXPECT_TRUE(entries(branch).empty());

    // A reply cut off after its row is not taken as the operator's permissions.
    orvo::test::FakeReply cut;
    cut.rows.push_back({{"557", "9999"}, {"556", "G01"}});
    cut.fault = orvo::test::FakeReply::Fault::Close;
    cut.faultAfterRows = 1;
    server.Script(kPermissionFunction, cut);
    EXPECT_EQ(LoadBranchList(&branch, 1), 1);
    EXPECT_TRUE(entries(branch).empty());
    EXPECT_EQ(LoadGroupList("0101", &group, 1), 0);
    EXPECT_TRUE(entries(group).empty());
}

TEST_F(LoaderTest, MissingTablesReturnZeroWithListsEmptied) {
    Permit({{"9999", ""}});
    branch.AddString("X", "stale", 1);
    exchange.InsertString(0, "X", "stale");
    variety.InsertString(0, "X", "stale");
    group.InsertString(0, "X", "stale");
    EXPECT_EQ(LoadBranchList(&branch, 1), 0);
    EXPECT_EQ(LoadExchangeList(&exchange, 0), 0);
    EXPECT_EQ(LoadVarietyList(&variety, ""), 0);
    EXPECT_EQ(LoadGroupList("0101", &group, 1), 0);
    for (HWND combo : {branch.m_hWnd, exchange.m_hWnd, variety.m_hWnd, group.m_hWnd})
        EXPECT_TRUE(entries(combo).empty());
    EXPECT_TRUE(server.Requests(kPermissionFunction).empty()) << "no table, no request";

    EXPECT_EQ(LoadBranchList(nullptr, 1), 0);
    EXPECT_EQ(LoadExchangeList(nullptr, 0), 0);
    EXPECT_EQ(LoadVarietyList(nullptr, ""), 0);
    EXPECT_EQ(LoadGroupList("0101", nullptr, 1), 0);
}

// ---- exchanges and varieties -------------------------------------------------------------------------

TEST_F(LoaderTest, ExchangesComeInReverseTableOrder) {
    AddTable("QHJYS",
             MakeTable("JYS[C4],JYSJC[C20]", {{"SQ", "上期所"}, {"DS", "大商所"}, {"ZS", "郑商所"}}));
    EXPECT_EQ(LoadExchangeList(&exchange, 0), 1);
    EXPECT_EQ(entries(exchange), (std::vector<std::string>{"ZS 郑商所", "DS 大商所", "SQ 上期所"}));
    EXPECT_EQ(exchange.GetCurSel(), -1);
}

TEST_F(LoaderTest, VarietiesByExchangeInTableOrder) {
    AddTable("QHPZ",
             MakeTable("JYS[C4],ZQLB[C8],ZQLBMC[C20]",
                       {{"SQ", "cu", "铜"}, {"DS", "m", "豆粕"}, {"SQ", "al", "铝"}, {"SQ", "zn", "锌"}}));
    EXPECT_EQ(LoadVarietyList(&variety, ""), 1);
    EXPECT_EQ(entries(variety), (std::vector<std::string>{"cu 铜", "m 豆粕", "al 铝", "zn 锌"}));
    EXPECT_EQ(LoadVarietyList(&variety, "SQ"), 1);
    EXPECT_EQ(entries(variety), (std::vector<std::string>{"cu 铜", "al 铝", "zn 锌"}));
    EXPECT_EQ(LoadVarietyList(&variety, "XX"), 1);
    EXPECT_TRUE(entries(variety).empty());
}

// ---- groups ------------------------------------------------------------------------------------------

class GroupLoaderTest : public LoaderTest {
protected:
    GroupLoaderTest() {
        AddTable("YYB", BranchTable({{"00", "总部", "0", "", ""},
                                     {"0101", "一部", "1", "00", "0"},
                                     {"010101", "一部甲", "2", "0101", "1"}}));
        AddTable("KHQZ", GroupTable({{"0101", "G01", "甲组"},
                                     {"0202", "G09", "他部"},
                                     {"0101", "G02", "乙组"},
                                     {"0101", "G03", "丙组"}}));
    }
};

TEST_F(GroupLoaderTest, FirstPermittedGroupIsOfferedToo) {
    Permit({{"0101", "G01,G03"}});
    EXPECT_EQ(LoadGroupList("0101", &group, 1), 1);
    EXPECT_EQ(entries(group), (std::vector<std::string>{"G03 丙组", "G01 甲组"}));
}

TEST_F(GroupLoaderTest, AllBranchesOfferEveryGroupOfTheBranchInReverseOrder) {
    Permit({{"9999", ""}});
    EXPECT_EQ(LoadGroupList("0101", &group, 1), 1);
    EXPECT_EQ(entries(group), (std::vector<std::string>{"G03 丙组", "G02 乙组", "G01 甲组"}));
    // "9999" among the permitted groups means nothing.
    Permit({{"0101", "9999"}});
    EXPECT_EQ(LoadGroupList("0101", &group, 1), 1);
    EXPECT_TRUE(entries(group).empty());
}

TEST_F(GroupLoaderTest, BranchNotPermittedOrUnrestricted) {
    Permit({{"0202", "G01,G02"}});
    EXPECT_EQ(LoadGroupList("0101", &group, 1), 0);
    EXPECT_TRUE(entries(group).empty());
    EXPECT_EQ(LoadGroupList("0101", &group, 0), 1);
    EXPECT_EQ(entries(group), (std::vector<std::string>{"G03 丙组", "G02 乙组", "G01 甲组"}));
}

TEST_F(GroupLoaderTest, AnOrganisationBelowABranchListsTheBranchGroups) {
    Permit({{"0101", "G02"}});
    EXPECT_EQ(LoadGroupList("010101", &group, 1), 1);
    EXPECT_EQ(entries(group), (std::vector<std::string>{"G02 乙组"}));
}

// ---- hierarchy ---------------------------------------------------------------------------------------

TEST_F(LoaderTest, OwnerBranchClimbsToTheBranchLevel) {
    AddTable("YYB", BranchTable({{"00", "总部", "0", "", ""},
                                 {"0101", "一部", "1", "00", "0"},
                                 {"A1", "营业组", "2", "0101", "1"},
                                 {"A11", "小组", "3", "A1", "2"},
                                 {"A111", "柜台", "3", "A11", "3"}}));
    EXPECT_EQ(GetOwnerBranch("A111"), "0101");
    EXPECT_EQ(GetOwnerBranch("A1"), "0101");
    EXPECT_EQ(GetOwnerBranch("0101"), "0101");
    EXPECT_EQ(GetOwnerBranch("00"), "00");
    EXPECT_EQ(GetOwnerBranch("ZZ"), "ZZ");
}

TEST_F(LoaderTest, OwnerBranchStopsOnACycleAndWithoutATable) {
    EXPECT_EQ(GetOwnerBranch("A1"), "A1");
    AddTable("YYB", BranchTable({}));
    EXPECT_EQ(GetOwnerBranch("A1"), "A1");
    AddTable("YYB",
             BranchTable(
                 {{"A1", "甲", "2", "A2", "2"}, {"A2", "乙", "2", "A3", "2"}, {"A3", "丙", "2", "A1", "2"}}));
    EXPECT_EQ(GetOwnerBranch("A1"), "A1");
    EXPECT_EQ(GetOwnerBranch("A2"), "A2");
    // Up to an unknown parent: that parent's code.
    AddTable("YYB", BranchTable({{"A1", "甲", "2", "B9", "2"}}));
    EXPECT_EQ(GetOwnerBranch("A1"), "B9");
}

// ---- contracts ---------------------------------------------------------------------------------------

TEST_F(LoaderTest, ContractListFiltersACopyAndLeavesTheHostTable) {
    AddContracts(ContractTable({{"SQ", "cu", "铜", "cu2501", "沪铜2501"},
                                {"DS", "m", "豆粕", "m2505", "豆粕2505"},
                                {"SQ", "al", "铝", "al2502", "沪铝2502"},
                                {"SQ", "cu", "铜", "cu2502", "沪铜2502"}}));
    EXPECT_EQ(LoadContractList(&contract, "SQ", "cu"), 1);
    EXPECT_EQ(contract.GetContractCount(), 2);
    EXPECT_EQ(contract.FindContract(1)->strCode, "cu2502");
    EXPECT_EQ(tables.back()->GetRecordCount(), 4);

    EXPECT_EQ(LoadContractList(&contract, "", ""), 1);
    EXPECT_EQ(contract.GetContractCount(), 4);
    EXPECT_EQ(LoadContractList(&contract, "SQ", ""), 1);
    EXPECT_EQ(contract.GetContractCount(), 3);
    EXPECT_EQ(tables.back()->GetRecordCount(), 4);
}

TEST_F(LoaderTest, MissingContractTableLeavesTheContractBoxAlone) {
    AddContracts(ContractTable({{"SQ", "cu", "铜", "cu2501", "沪铜2501"}}));
    ASSERT_EQ(LoadContractList(&contract, "", ""), 1);
    theGloalMem.RemoveKey("QHHYDM");
    EXPECT_EQ(LoadContractList(&contract, "", ""), 0);
    EXPECT_EQ(contract.GetContractCount(), 1);
    EXPECT_EQ(contract.GetCount(), 1);
}

// ---- customer number ---------------------------------------------------------------------------------

TEST_F(LoaderTest, CustomerNumberCompletion) {
    const auto complete = [](const char* typed) {
        CString customer = typed;
        const CString copy = CompleteCustomerNo(customer);
        EXPECT_EQ(copy, customer) << "the copy and the in-place value agree";
        return customer.str();
    };
    EXPECT_EQ(complete("123"), "00000123");
    EXPECT_EQ(complete("   "), "");
    EXPECT_EQ(complete(""), "");
    ini.SetValue("SYSTEM", "KHHPRE", "0101");
    EXPECT_EQ(complete("  123 "), "010100000123");
    EXPECT_EQ(complete("12345678"), "010112345678");
    EXPECT_EQ(complete("123456789"), "123456789");
    ini.SetValue("SYSTEM", "KHHPRE", "123456");
    EXPECT_EQ(complete("7"), "345600000007");
    g_pIni = nullptr;
    EXPECT_EQ(complete("7"), "00000007");
}

} // namespace
} // namespace condtest
