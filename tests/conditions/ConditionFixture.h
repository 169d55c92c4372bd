// Fixture of the conditions tests: a fake counter server answering the permission request, a real
// CFixComm to it as g_pFixComm, a table map as g_pTableMap, a configuration as g_pIni, and small code
// tables built from UTF-8 rows.
#pragma once

#include "tests/support/ModuleChannel.h"

#include "host/cfg/OrvoIni.h"
#include "host/dbm/MemRecord.h"
#include "platform/Collections.h"

#include <gtest/gtest.h>

#include <initializer_list>
#include <string>
#include <vector>

namespace condtest {

inline constexpr std::uint32_t kPermissionFunction = 15016;

std::string Gbk(const std::string& utf8);
std::string Utf8(const CString& gbk);

// A record set from a layout and rows of UTF-8 texts in layout order.
CMemRecord MakeTable(const char* layout, std::initializer_list<std::vector<std::string>> rows);

// Organisation rows: code, short name, category, parent, parent's category.
CMemRecord BranchTable(std::initializer_list<std::vector<std::string>> rows);
// Group rows: branch, group code, group name.
CMemRecord GroupTable(std::initializer_list<std::vector<std::string>> rows);
// Contract rows: exchange, variety, variety name, code, name (exchange name made from the exchange).
CMemRecord ContractTable(std::initializer_list<std::vector<std::string>> rows);

class ConditionTest : public ::testing::Test, protected orvo::test::ModuleChannel {
protected:
    ConditionTest();
    ~ConditionTest() override;

    // The permission reply: one row per pair of (branches 557, groups 556) texts; none for no row.
    void Permit(const std::vector<std::pair<std::string, std::string>>& rows);
    // Puts a table into the module's table map (the fixture keeps it alive).
    void AddTable(const char* name, const CMemRecord& table);
    // Puts the contract table into the host's global map.
    void AddContracts(const CMemRecord& table);

    COrvoIni ini;
    CMapStringToPtr tableMap;
    std::vector<std::unique_ptr<CMemRecord>> tables;
};

} // namespace condtest
