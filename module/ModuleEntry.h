// The seven entry points the host calls, undecorated with C linkage, and their pointer types for a host
// that resolves them at run time. Texts cross the boundary as CString by value (GBK).
#pragma once

#include "platform/CString.h"

#define ORVO_MODULE_EXPORT __attribute__((visibility("default")))

#if defined(__clang__)
#pragma clang diagnostic push
#pragma clang diagnostic ignored "-Wreturn-type-c-linkage" // host and module share the CString layout
#endif

extern "C" {
ORVO_MODULE_EXPORT int ModuleInit();
ORVO_MODULE_EXPORT int ModuleMain();
ORVO_MODULE_EXPORT int ModuleClose();
ORVO_MODULE_EXPORT int SetParam(long code, CString text);
ORVO_MODULE_EXPORT CString GetParam(long code);
ORVO_MODULE_EXPORT int SetOrvoData(long code, void* object);
ORVO_MODULE_EXPORT int SetFunc(long number);
}

#if defined(__clang__)
#pragma clang diagnostic pop
#endif

namespace orvo::module {

using ModuleInitFn = int (*)();
using ModuleMainFn = int (*)();
using ModuleCloseFn = int (*)();
using SetParamFn = int (*)(long, CString);
using GetParamFn = CString (*)(long);
using SetOrvoDataFn = int (*)(long, void*);
using SetFuncFn = int (*)(long);

// SetOrvoData codes
constexpr long kDataThreeTier = 101; // refused
constexpr long kDataFixComm = 102;
constexpr long kDataIni = 103;
constexpr long kDataUnused = 104;
constexpr long kDataTableMap = 105;
constexpr long kDataDictionary = 106;

// GetParam codes
constexpr long kParamBuildDate = 1;
constexpr long kParamCategory = 2;
constexpr long kParamModuleName = 3;
constexpr long kParamVersion = 4;
constexpr long kParamDescription = 5;
constexpr long kParamStatus = 7;
constexpr long kParamFunctions = 8;

// SetParam codes
constexpr long kSetParamNumber = 2;
constexpr long kSetParamModuleName = 6;

} // namespace orvo::module
