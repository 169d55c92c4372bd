#include "ConditionFixture.h"

#include "host/stock/DataDictionary.h"
#include "module/ModuleState.h"

namespace condtest {

std::string Gbk(const std::string& utf8) {
    return CString::FromUtf8(utf8).str();
}

std::string Utf8(const CString& gbk) {
    return gbk.ToUtf8();
}

CMemRecord MakeTable(const char* layout, std::initializer_list<std::vector<std::string>> rows) {
    CMemRecord rec;
    rec.Create(layout, 0);
    for (const auto& row : rows) {
        rec.Append(nullptr, 1);
        for (int i = 0; i < static_cast<int>(row.size()); ++i)
            rec.Set(rec.GetField(i).name, CString::FromUtf8(row[static_cast<std::size_t>(i)]));
    }
    rec.GoTop();
    return rec;
}

CMemRecord BranchTable(std::initializer_list<std::vector<std::string>> rows) {
    return MakeTable("JGBM[C8],JGJC[C20],JGLB[C2],SJJG[C8],SJJGLB[C2]", rows);
}

CMemRecord GroupTable(std::initializer_list<std::vector<std::string>> rows) {
    return MakeTable("YYB[C8],KHQZ[C8],QZMC[C20]", rows);
}

CMemRecord ContractTable(std::initializer_list<std::vector<std::string>> rows) {
    CMemRecord rec;
    rec.Create("JYS[C4],JYSMC[C20],ZQLB[C8],ZQLBMC[C20],ZQDM[C12],HYMC[C20]", 0);
    for (const auto& row : rows) {
        rec.Append(nullptr, 1);
        rec.Set("JYS", CString::FromUtf8(row.at(0)));
        rec.Set("JYSMC", CString::FromUtf8(row.at(0) + "交易所"));
        rec.Set("ZQLB", CString::FromUtf8(row.at(1)));
        rec.Set("ZQLBMC", CString::FromUtf8(row.at(2)));
        rec.Set("ZQDM", CString::FromUtf8(row.at(3)));
        rec.Set("HYMC", CString::FromUtf8(row.at(4)));
    }
    rec.GoTop();
    return rec;
}

ConditionTest::ConditionTest() {
    g_pTableMap = &tableMap;
    g_pIni = &ini;
}

ConditionTest::~ConditionTest() {
    g_pTableMap = nullptr;
    g_pIni = nullptr;
    theGloalMem.RemoveKey("QHHYDM");
}

void ConditionTest::Permit(const std::vector<std::pair<std::string, std::string>>& rows) {
    orvo::test::FakeReply reply;
    for (const auto& [branches, groups] : rows)
        reply.rows.push_back({{"557", Gbk(branches)}, {"556", Gbk(groups)}});
    server.Script(kPermissionFunction, std::move(reply));
}

void ConditionTest::AddTable(const char* name, const CMemRecord& table) {
    tables.push_back(std::make_unique<CMemRecord>(table));
    tableMap.SetAt(name, tables.back().get());
}

void ConditionTest::AddContracts(const CMemRecord& table) {
    tables.push_back(std::make_unique<CMemRecord>(table));
    theGloalMem.SetAt("QHHYDM", tables.back().get());
}

} // namespace condtest
