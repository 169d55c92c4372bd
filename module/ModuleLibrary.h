// Library attach and detach: the work done when the host loads and unloads the module.
#pragma once

namespace orvo::module {

// The module's dialog templates join the resource registry; g_nFuncNo is appended to g_arrFuncNo.
void LibraryAttach();
// g_arrFuncNo is emptied; the templates leave the registry.
void LibraryDetach();

// Values the host hands over that the module keeps but never reads (SetParam 2, SetFunc, SetOrvoData 104).
struct KeptValues {
    long param2 = 0;
    long funcNumber = 0;
    void* data104 = nullptr;
};
KeptValues& Kept();

} // namespace orvo::module
