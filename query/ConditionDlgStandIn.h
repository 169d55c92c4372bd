// The conditions dialog the query window runs until the real one joins the module: template 9001 with its
// OK and Cancel buttons; it gathers nothing, so the nine conditions stay empty.
#pragma once

#include "host/gui/OrvoDialog.h"
#include "query/QueryConditions.h"
#include "res/Resource.h"

class CConditionDlgStandIn : public COrvoDialog, public QueryConditions {
public:
    explicit CConditionDlgStandIn(CWnd* pParent = nullptr) : COrvoDialog(IDD_QUERY_CONDITION, pParent) {}
};
