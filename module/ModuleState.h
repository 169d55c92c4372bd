// Module-wide state: the host's objects handed over by SetOrvoData and the module's settings.
// One instance each, alive from library load to unload; the module never owns the host objects.
#pragma once

#include "platform/CString.h"

class CFixComm;
class COrvoIni;
class CMapStringToPtr;
class CDataDictionary;
class CDWordArray;

extern long g_nFuncNo;                 // 893
extern CDWordArray g_arrFuncNo;        // function numbers served; GetParam(8)
extern CString g_strModuleName;        // window title; SetParam(6)
extern CString g_strModuleStatus;      // GetParam(7)
extern CFixComm* g_pFixComm;           // SetOrvoData(102)
extern COrvoIni* g_pIni;               // SetOrvoData(103)
extern CMapStringToPtr* g_pTableMap;   // SetOrvoData(105): table name -> CMemRecord*
extern CDataDictionary* g_pDictionary; // SetOrvoData(106)
