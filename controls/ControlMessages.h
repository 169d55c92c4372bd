// Messages that the module's own controls send to their parent window.
#pragma once

#include "platform/Messages.h"

// After a drag of the splitter bar (wParam: signed vertical displacement, lParam: the bar's control ID),
// and from the contract combo box.
inline constexpr UINT UM_SPLITTER_MOVED = WM_USER + 1000; // 2024
