// The operator's permissions as the counter server states them (function 15016).
#pragma once

#include "platform/CString.h"

namespace conditions {

struct OperatorPermissions {
    CString branches; // tag 557: the branch codes the operator may see; "9999" for all
    CString groups;   // tag 556: the customer-group codes the operator may see
};

// One request 15016 with 517 = the module's function number; the last reply row counts. A reply that was
// refused or cut off part-way gives empty texts (nothing permitted) rather than a part taken for the whole.
OperatorPermissions RequestOperatorPermissions();

// Plain substring search, as the permission texts are searched: a code inside a longer code counts. An
// empty code is never contained.
bool TextContains(const CString& text, const CString& code);

} // namespace conditions
