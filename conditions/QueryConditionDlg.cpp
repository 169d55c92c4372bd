#include "conditions/QueryConditionDlg.h"

#include "conditions/ConditionLoaders.h"
#include "res/Resource.h"

namespace {
constexpr const char* kWithinValidity = "0";
constexpr const char* kExpired = "1";
constexpr const char* kDateFormat = "%Y.%m.%d";

CString pickerDate(CDateTimeCtrl& picker) {
    CTime date;
    if (picker.GetTime(date) != GDT_VALID)
        return "";
    return date.Format(kDateFormat);
}
} // namespace

BEGIN_MESSAGE_MAP(CQueryConditionDlg, COrvoDialog)
ON_CBN_SELCHANGE(IDC_COMBO_EXCHANGE, &CQueryConditionDlg::OnSelchangeExchange)
ON_CBN_SELENDOK(IDC_COMBO_VALIDITY, &CQueryConditionDlg::OnSelendokValidity)
ON_MESSAGE(UM_CHECKCOMBO_CHANGE, &CQueryConditionDlg::OnCheckComboChange)
ON_CBN_SELCHANGE(IDC_COMBO_VALIDITY, &CQueryConditionDlg::OnSelchangeValidity)
END_MESSAGE_MAP()

CQueryConditionDlg::CQueryConditionDlg(CWnd* pParent) : COrvoDialog(IDD_QUERY_CONDITION, pParent) {}

CQueryConditionDlg::~CQueryConditionDlg() = default;

void CQueryConditionDlg::DoDataExchange(CDataExchange* pDX) {
    COrvoDialog::DoDataExchange(pDX);
    DDX_Control(pDX, IDC_DATE_BEGIN, m_dateBegin);
    DDX_Control(pDX, IDC_DATE_END, m_dateEnd);
    DDX_Control(pDX, IDC_EDIT_CUSTOMER, m_editCustomer);
    DDX_Control(pDX, IDC_COMBO_BRANCH, m_comboBranch);
    DDX_Control(pDX, IDC_COMBO_VALIDITY, m_comboValidity);
    DDX_Control(pDX, IDC_COMBO_GROUP, m_comboGroup);
    DDX_Control(pDX, IDC_COMBO_EXCHANGE, m_comboExchange);
    DDX_Control(pDX, IDC_COMBO_VARIETY, m_comboVariety);
    DDX_Control(pDX, IDC_COMBO_CONTRACT, m_comboContract);
}

BOOL CQueryConditionDlg::PreTranslateMessage(MSG* pMsg) {
    return COrvoDialog::PreTranslateMessage(pMsg);
}

BOOL CQueryConditionDlg::OnInitDialog() {
    COrvoDialog::OnInitDialog();
    SetNoteVisible(FALSE);

    LoadBranchList(&m_comboBranch, 1);
    LoadExchangeList(&m_comboExchange, 0);
    LoadVarietyList(&m_comboVariety, "");
    LoadContractList(&m_comboContract, "", "");

    m_comboValidity.InsertString(0, kWithinValidity, GBK("限有效期内"));
    m_comboValidity.InsertString(1, kExpired, GBK("已过有效期"));
    m_comboValidity.SetSel(kWithinValidity);

    // Rules within their validity need no dates; the pickers keep showing today's.
    m_dateEnd.EnableWindow(FALSE);
    m_dateBegin.EnableWindow(FALSE);
    return TRUE; // focus to the first tab stop, the branch box
}

void CQueryConditionDlg::OnSelchangeExchange() {
    LoadVarietyList(&m_comboVariety, m_comboExchange.GetString(-1));
}

void CQueryConditionDlg::OnSelendokValidity() {}

LRESULT CQueryConditionDlg::OnCheckComboChange(WPARAM wParam, LPARAM /*lParam*/) {
    // Only the branch box's own object counts; the pointer is compared, never followed.
    const auto* sender = reinterpret_cast<const CWnd*>(wParam);
    if (sender == &m_comboBranch && m_comboBranch.GetSafeHwnd())
        LoadGroupList(m_comboBranch.GetText(), &m_comboGroup, 1);
    return 1;
}

void CQueryConditionDlg::OnSelchangeValidity() {
    const BOOL expired = m_comboValidity.GetString(-1) != kWithinValidity;
    m_dateEnd.EnableWindow(expired);
    m_dateBegin.EnableWindow(expired);
}

void CQueryConditionDlg::OnOK() {
    // Enter confirms without the focus leaving a box: text typed there is settled as leaving would, so
    // the conditions are what the boxes show. The exchange first, as its choice reloads the varieties.
    m_comboGroup.SettleText();
    m_comboExchange.SettleText();
    m_comboVariety.SettleText();
    m_strBranch = m_comboBranch.GetText();
    m_strGroup = m_comboGroup.GetString(-1);
    m_strCustomer = m_editCustomer.GetText();
    CompleteCustomerNo(m_strCustomer);
    m_strExchange = m_comboExchange.GetString(-1);
    m_strVariety = m_comboVariety.GetString(-1);
    // Enter confirms without the contract box losing the focus: settle a typed prefix as leaving would.
    m_comboContract.SettleSelection();
    m_strContract = m_comboContract.GetSelCode();
    m_strValidity = m_comboValidity.GetString(-1);
    m_strBeginDate = pickerDate(m_dateBegin);
    m_strEndDate = pickerDate(m_dateEnd);
    COrvoDialog::OnOK();
}
