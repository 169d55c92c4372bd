// The module's dialog templates as data, for the resource registry.
#pragma once

#include "platform/Resources.h"

#include <vector>

namespace orvo::res {

DialogTemplate ExtOrderQueryTemplate();  // 9000
DialogTemplate QueryConditionTemplate(); // 9001

// Both, in resource order.
std::vector<DialogTemplate> ModuleDialogTemplates();

} // namespace orvo::res
