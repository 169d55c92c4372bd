// The entry points other than ModuleMain: identity, settings and the host's objects.
#include "module/ModuleEntry.h"

#include "module/ModuleLibrary.h"
#include "module/ModuleState.h"
#include "platform/Collections.h"
#include "platform/TextNumbers.h"

using namespace orvo::module;

namespace {

CString formatWithCode(const CString& pattern, long code) {
    CString text;
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wformat-nonliteral" // the patterns are the module's own texts
    text.Format(pattern, code);
#pragma GCC diagnostic pop
    return text;
}

CString joinedFunctionNumbers() {
    CString joined;
    for (int i = 0; i < g_arrFuncNo.GetSize(); ++i) {
        if (i > 0)
            joined += ',';
        joined.AppendFormat("%li", static_cast<long>(g_arrFuncNo[i]));
    }
    return joined;
}

} // namespace

int ModuleInit() {
    Kept().funcNumber = 0;
    g_strModuleStatus = "ok";
    return 1;
}

int ModuleClose() {
    return 1;
}

int SetFunc(long number) {
    Kept().funcNumber = number;
    return 1;
}

int SetParam(long code, CString text) { // NOLINT(performance-unnecessary-value-param): the host ABI
    switch (code) {
    case kSetParamNumber:
        Kept().param2 = orvo::TextToLong(text.view());
        break;
    case kSetParamModuleName:
        g_strModuleName = text;
        break;
    default:
        break;
    }
    return 1;
}

int SetOrvoData(long code, void* object) {
    g_strModuleStatus.Empty();
    switch (code) {
    case kDataFixComm:
        g_pFixComm = static_cast<CFixComm*>(object);
        return 1;
    case kDataIni:
        g_pIni = static_cast<COrvoIni*>(object);
        return 1;
    case kDataUnused:
        Kept().data104 = object;
        return 1;
    case kDataTableMap:
        g_pTableMap = static_cast<CMapStringToPtr*>(object);
        return 1;
    case kDataDictionary:
        g_pDictionary = static_cast<CDataDictionary*>(object);
        return 1;
    case kDataThreeTier:
        g_strModuleStatus = formatWithCode(GBK("不能三层设置模块(%li)"), code);
        return 0;
    default:
        g_strModuleStatus = formatWithCode(GBK("未知数据类型(%li)"), code);
        return 0;
    }
}

CString GetParam(long code) {
    CString statusBefore = g_strModuleStatus;
    g_strModuleStatus.Empty();
    switch (code) {
    case kParamBuildDate:
        return CString("Aug  1 2008");
    case kParamCategory:
        return CString("OVI");
    case kParamModuleName:
        return g_strModuleName;
    case kParamVersion:
        return CString("1.00");
    case kParamDescription:
        return CString("orvo nd7100 module");
    case kParamStatus:
        return statusBefore;
    case kParamFunctions:
        return joinedFunctionNumbers();
    default:
        g_strModuleStatus = formatWithCode(GBK("无法取出参数(%li)"), code);
        return CString();
    }
}
