#include "host/stock/DataDictionary.h"

// The host fills this map at start-up (table name -> CMemRecord*, owned by the host).
CMapStringToPtr theGloalMem;
