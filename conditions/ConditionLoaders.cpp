#include "conditions/ConditionLoaders.h"

#include "conditions/OperatorPermissions.h"
#include "controls/ContractComboBox.h"
#include "host/cfg/OrvoIni.h"
#include "host/dbm/MemRecord.h"
#include "host/gui/OrvoCheckCombo.h"
#include "host/gui/OrvoComboBox.h"
#include "host/stock/DataDictionary.h"
#include "module/ModuleState.h"
#include "platform/Collections.h"

#include <set>
#include <string>

using conditions::TextContains;

namespace {

constexpr const char* kAllBranches = "9999";

CMemRecord* findTable(const CMapStringToPtr* map, LPCTSTR name) {
    void* table = nullptr;
    if (!map || !map->Lookup(name, table))
        return nullptr;
    return static_cast<CMemRecord*>(table);
}

CMemRecord* moduleTable(LPCTSTR name) {
    return findTable(g_pTableMap, name);
}

} // namespace

int LoadBranchList(COrvoCheckCombo* control, int restrict) {
    if (!control)
        return 0;
    control->Reset();
    CMemRecord* branches = moduleTable("YYB");
    if (!branches)
        return 0;
    const conditions::OperatorPermissions permissions = conditions::RequestOperatorPermissions();
    const bool all = TextContains(permissions.branches, kAllBranches);
    for (branches->GoTop(); !branches->Eof(); branches->Skip(1)) {
        if (branches->GetString("JGLB", -1) == "0")
            continue;
        const CString code = branches->GetString("JGBM", -1);
        if (!restrict || all || TextContains(permissions.branches, code))
            control->AddString(code, branches->GetString("JGJC", -1), 1);
    }
    return 1;
}

int LoadExchangeList(COrvoComboBox* control, int /*unused*/) {
    if (!control)
        return 0;
    control->ResetContent();
    CMemRecord* exchanges = moduleTable("QHJYS");
    if (!exchanges)
        return 0;
    // Each one at the top: the list ends in the reverse of the table's order. No "all" entry: no
    // selection stands for every exchange.
    for (exchanges->GoTop(); !exchanges->Eof(); exchanges->Skip(1))
        control->InsertString(0, exchanges->GetString("JYS", -1), exchanges->GetString("JYSJC", -1));
    return 1;
}

int LoadVarietyList(COrvoComboBox* control, CString exchange) {
    if (!control)
        return 0;
    control->ResetContent();
    CMemRecord* varieties = moduleTable("QHPZ");
    if (!varieties)
        return 0;
    int position = 0;
    for (varieties->GoTop(); !varieties->Eof(); varieties->Skip(1)) {
        if (!exchange.IsEmpty() && varieties->GetString("JYS", -1) != exchange)
            continue;
        control->InsertString(position++, varieties->GetString("ZQLB", -1),
                              varieties->GetString("ZQLBMC", -1));
    }
    return 1;
}

CString GetOwnerBranch(CString code) {
    CMemRecord* organisations = moduleTable("YYB");
    if (!organisations || organisations->GetRecordCount() == 0)
        return code;
    std::set<std::string> visited;
    for (;;) {
        if (!visited.insert(code.str()).second)
            return code; // the parents lead back here: stop where the walk came round
        bool found = false;
        for (organisations->GoTop(); !organisations->Eof(); organisations->Skip(1))
            if (organisations->GetString("JGBM", -1) == code) {
                found = true;
                break;
            }
        if (!found)
            return code;
        const CString category = organisations->GetString("JGLB", -1);
        if (category == "0" || category == "1")
            return code;
        const CString parent = organisations->GetString("SJJG", -1);
        if (organisations->GetString("SJJGLB", -1) == "1")
            return parent;
        code = parent;
    }
}

int LoadGroupList(CString branch, COrvoComboBox* control, int restrict) {
    if (!control)
        return 0;
    control->ResetContent();
    CMemRecord* groups = moduleTable("KHQZ");
    branch = GetOwnerBranch(branch);
    if (!groups)
        return 0;
    const conditions::OperatorPermissions permissions = conditions::RequestOperatorPermissions();
    const bool all = TextContains(permissions.branches, kAllBranches);
    if (restrict && !all && !TextContains(permissions.branches, branch))
        return 0;
    for (groups->GoTop(); !groups->Eof(); groups->Skip(1)) {
        if (groups->GetString("YYB", -1) != branch)
            continue;
        const CString group = groups->GetString("KHQZ", -1);
        // A group counts wherever its code stands in the permitted text, the very start included.
        if (restrict && !all && !TextContains(permissions.groups, group))
            continue;
        control->InsertString(0, group, groups->GetString("QZMC", -1));
    }
    return 1;
}

int LoadContractList(CContractComboBox* control, CString exchange, CString variety) {
    CMemRecord* hostContracts = findTable(&theGloalMem, "QHHYDM");
    if (!hostContracts || !control)
        return 0;
    CMemRecord contracts;
    contracts = *hostContracts;
    contracts.GoTop();
    while (!contracts.Eof()) {
        const bool otherExchange = !exchange.IsEmpty() && contracts.GetString("JYS", -1) != exchange;
        const bool otherVariety = !variety.IsEmpty() && contracts.GetString("ZQLB", -1) != variety;
        if (otherExchange || otherVariety)
            contracts.Delete(); // the next row becomes current
        else
            contracts.Skip(1);
    }
    control->LoadContracts(&contracts);
    return 1;
}

CString CompleteCustomerNo(CString& customer) {
    constexpr int kDigits = 8;
    constexpr int kCompleted = 12;
    const CString prefix = g_pIni ? g_pIni->GetValue("SYSTEM", "KHHPRE", "") : CString();
    customer.Trim();
    if (customer.IsEmpty() || customer.GetLength() > kDigits)
        return customer;
    // "%s%08s": the prefix, then the number right-aligned in 8 places padded with zeros.
    const CString completed = prefix + CString('0', kDigits - customer.GetLength()) + customer;
    customer = completed.GetLength() > kCompleted ? completed.Right(kCompleted) : completed;
    return customer;
}
