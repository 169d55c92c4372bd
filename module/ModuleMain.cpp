// ModuleMain: runs the query window for one opening of function 893.
#include "module/ModuleEntry.h"

#include "host/cfg/OrvoIni.h"
#include "module/ModuleState.h"
#include "query/ExtOrderQueryDlg.h"

#include <memory>

namespace {

// The objects the query window needs, by SetOrvoData code; the first one missing is named in the status.
long firstMissingHostObject() {
    if (!g_pFixComm)
        return 102;
    if (!g_pIni)
        return 103;
    if (!g_pTableMap)
        return 105;
    if (!g_pDictionary)
        return 106;
    return 0;
}

} // namespace

int ModuleMain() {
    // Without one of the host's objects the window could only fail half-way; it is not opened, and the
    // host can read why with GetParam(7).
    if (const long missing = firstMissingHostObject(); missing != 0) {
        g_strModuleStatus.Format("%s(%li)", GBK("缺少主程序对象").GetString(), missing);
        return 1;
    }

    // A fresh window for every opening: nothing of one run survives into the next.
    auto pDlg = std::make_unique<CExtOrderQueryDlg>(nullptr);
    // The host may add a note to the title (SYSTEM/TITLENOTE), such as the demo data's mark.
    CString title = g_strModuleName;
    title += g_pIni->GetValue("SYSTEM", "TITLENOTE", "");
    pDlg->m_strTitle = title;
    pDlg->DoModal();
    pDlg.reset();
    return 1;
}
