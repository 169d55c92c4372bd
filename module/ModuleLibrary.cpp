#include "module/ModuleLibrary.h"

#include "module/ModuleState.h"
#include "platform/Collections.h"
#include "platform/Resources.h"
#include "res/DialogTemplates.h"

namespace orvo::module {
namespace {

// Any address unique to this library names its registration in the resource chain.
const char g_registrationTag = 0;

} // namespace

void LibraryAttach() {
    g_arrFuncNo.Add(static_cast<DWORD>(g_nFuncNo));
    RegisterDialogTemplates(&g_registrationTag, res::ModuleDialogTemplates());
}

void LibraryDetach() {
    g_arrFuncNo.RemoveAll();
    UnregisterDialogTemplates(&g_registrationTag);
}

} // namespace orvo::module
