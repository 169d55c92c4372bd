// CQueryConditionDlg: the conditions dialog "查询条件" (template 9001). Its lists are filled afresh at every
// opening; OK turns the choices into the nine condition strings (QueryConditions), which keep their
// values from one confirmed dialog to the next and are never touched by Cancel.
#pragma once

#include "controls/ContractComboBox.h"
#include "host/gui/OrvoCheckCombo.h"
#include "host/gui/OrvoComboBox.h"
#include "host/gui/OrvoDialog.h"
#include "host/gui/OrvoEdit.h"
#include "platform/DateTimeCtrl.h"
#include "query/QueryConditions.h"

class CQueryConditionDlg : public COrvoDialog, public QueryConditions {
public:
    explicit CQueryConditionDlg(CWnd* pParent = nullptr);
    ~CQueryConditionDlg() override;

    BOOL PreTranslateMessage(MSG* pMsg) override;

    CDateTimeCtrl m_dateBegin;
    CDateTimeCtrl m_dateEnd;
    COrvoEdit m_editCustomer;
    COrvoCheckCombo m_comboBranch;
    COrvoComboBox m_comboValidity;
    COrvoComboBox m_comboGroup;
    COrvoComboBox m_comboExchange;
    COrvoComboBox m_comboVariety;
    CContractComboBox m_comboContract;

protected:
    void DoDataExchange(CDataExchange* pDX) override;
    BOOL OnInitDialog() override;
    void OnOK() override;
    void OnSelchangeExchange();
    void OnSelendokValidity();
    LRESULT OnCheckComboChange(WPARAM wParam, LPARAM lParam);
    void OnSelchangeValidity();
    DECLARE_MESSAGE_MAP()
};
