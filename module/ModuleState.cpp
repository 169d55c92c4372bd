// The module-wide state and the library's lifetime. The attach/detach object is defined after the state in
// this one file, so C++ runs attach after the state is built and detach before it is torn down.
#include "module/ModuleState.h"

#include "module/ModuleLibrary.h"
#include "platform/Collections.h"

long g_nFuncNo = 893;
CDWordArray g_arrFuncNo;
CString g_strModuleName = GBK("扩展委托查询");
CString g_strModuleStatus;
CFixComm* g_pFixComm = nullptr;
COrvoIni* g_pIni = nullptr;
CMapStringToPtr* g_pTableMap = nullptr;
CDataDictionary* g_pDictionary = nullptr;

namespace orvo::module {

KeptValues& Kept() {
    static KeptValues values;
    return values;
}

namespace {

struct LibraryLifetime {
    LibraryLifetime() { LibraryAttach(); }
    ~LibraryLifetime() { LibraryDetach(); }
    LibraryLifetime(const LibraryLifetime&) = delete;
    LibraryLifetime& operator=(const LibraryLifetime&) = delete;
};

const LibraryLifetime g_libraryLifetime;

} // namespace
} // namespace orvo::module
