// The loaders that fill the conditions dialog's lists from the host's code tables, cut down to what the
// logged-in operator may see (server function 15016), and the two routines the dialog needs besides: the
// walk up the organisation hierarchy and the completion of a typed customer number.
//
// Every loader empties its list first (the contract box refills its own store) and returns 1 when it
// filled it, 0 when it had no control or its table is missing. They keep nothing between calls.
#pragma once

#include "platform/CString.h"

class COrvoCheckCombo;
class COrvoComboBox;
class CContractComboBox;

// Branches ("YYB" rows not of category "0"), in table order; with restrict, only those the operator may see.
int LoadBranchList(COrvoCheckCombo* control, int restrict);
// Exchanges ("QHJYS"), in the reverse of table order. The second argument is not used.
int LoadExchangeList(COrvoComboBox* control, int unused);
// Varieties ("QHPZ") of one exchange ("" for all), in table order.
int LoadVarietyList(COrvoComboBox* control, CString exchange);
// Customer groups ("KHQZ") of the branch the code belongs to, in the reverse of table order; with restrict,
// only when the operator may see that branch, and only the groups the operator may see.
int LoadGroupList(CString branch, COrvoComboBox* control, int restrict);
// Contracts (theGloalMem "QHHYDM") of one exchange and one variety ("" for no filter) into the contract box.
// The host's table is never changed.
int LoadContractList(CContractComboBox* control, CString exchange, CString variety);
// The branch an organisation belongs to: climbs "YYB" through parents until a branch-level ("1") parent or
// an organisation of category "0"/"1". Unknown codes, a missing table and a cycle give back the code
// reached.
CString GetOwnerBranch(CString code);
// Trims the number in place and, when it has 1 to 8 bytes, completes it to the configured prefix
// (SYSTEM/KHHPRE) followed by the number padded to 8 with zeros, keeping the last 12 bytes. Returns a copy.
CString CompleteCustomerNo(CString& customer);
