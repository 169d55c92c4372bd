// The nine query conditions that the conditions dialog confirms and every rule and detail query sends.
// The empty string means no condition.
#pragma once

#include "platform/CString.h"

struct QueryConditions {
    CString m_strBranch;    // 697: comma-separated branch codes
    CString m_strGroup;     // 610
    CString m_strCustomer;  // 605, already completed with the prefix
    CString m_strExchange;  // 599
    CString m_strVariety;   // 720
    CString m_strContract;  // 719
    CString m_strValidity;  // 9020: "0" within validity, "1" expired
    CString m_strBeginDate; // 618, "%Y.%m.%d", sent only for validity "1"
    CString m_strEndDate;   // 590, likewise
};
