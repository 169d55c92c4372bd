// Kinds read through the host library's own control classes (the record-bound list, the host combo
// boxes). Built when the host's window library is part of the build.
#include "client/automation/ControlKinds.h"

namespace automation {

void AddHostControlKinds(ControlKinds& kinds) {
    (void)kinds;
}

} // namespace automation
