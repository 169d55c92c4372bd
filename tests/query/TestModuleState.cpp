// The module-wide host pointers the query logic reads; the module library defines them in the product,
// the tests here point them at their own objects.
#include "module/ModuleState.h"

CFixComm* g_pFixComm = nullptr;
COrvoIni* g_pIni = nullptr;
CMapStringToPtr* g_pTableMap = nullptr;
CDataDictionary* g_pDictionary = nullptr;
