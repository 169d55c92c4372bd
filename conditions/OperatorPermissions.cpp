#include "conditions/OperatorPermissions.h"

#include "host/com/FixComm.h"
#include "module/ModuleState.h"

namespace conditions {

namespace {
constexpr long kPermissionFunction = 15016;
constexpr long kTagFunctionNo = 517;
constexpr long kTagBranches = 557;
constexpr long kTagGroups = 556;
} // namespace

OperatorPermissions RequestOperatorPermissions() {
    OperatorPermissions permissions;
    if (!g_pFixComm)
        return permissions;
    g_pFixComm->CreateHead(kPermissionFunction, -1);
    g_pFixComm->SetItem(kTagFunctionNo, g_nFuncNo);
    while (g_pFixComm->More(nullptr)) {
        permissions.branches = g_pFixComm->GetItem(kTagBranches, -1);
        permissions.groups = g_pFixComm->GetItem(kTagGroups, -1);
    }
    if (!g_pFixComm->LastReplyOk())
        return {};
    return permissions;
}

bool TextContains(const CString& text, const CString& code) {
    return !code.IsEmpty() && text.Find(code) >= 0;
}

} // namespace conditions
