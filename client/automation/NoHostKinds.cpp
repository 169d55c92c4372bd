// Without the host's window library only the standard kinds are known.
#include "client/automation/ControlKinds.h"

namespace automation {

void AddHostControlKinds(ControlKinds&) {}

} // namespace automation
