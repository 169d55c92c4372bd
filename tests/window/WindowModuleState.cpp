// The module-wide values the window and its conditions dialog read; the module library defines them in the
// product, the tests point them at their own objects.
#include "module/ModuleState.h"

long g_nFuncNo = 893;
CFixComm* g_pFixComm = nullptr;
COrvoIni* g_pIni = nullptr;
CMapStringToPtr* g_pTableMap = nullptr;
CDataDictionary* g_pDictionary = nullptr;
