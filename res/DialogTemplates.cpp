#include "res/DialogTemplates.h"

#include "res/Resource.h"

namespace orvo::res {
namespace {

DialogControlTemplate control(int id, const char* className, const CString& text, DWORD style, int x, int y,
                              int cx, int cy) {
    return DialogControlTemplate{id, className, text, style, x, y, cx, cy};
}

// A left-aligned label that ends at x 47, on the line of the control it names.
DialogControlTemplate label(const char* utf8Text, int controlY) {
    return control(IDC_STATIC, wc::kStatic, CString::FromUtf8(utf8Text), WS_CHILD | WS_VISIBLE | SS_LEFT, 7,
                   controlY + 2, 40, 8);
}

} // namespace

DialogTemplate ExtOrderQueryTemplate() {
    DialogTemplate t;
    t.id = IDD_EXT_ORDER_QUERY;
    t.style = WS_POPUP | WS_CAPTION | WS_SYSMENU | WS_MAXIMIZEBOX | DS_MODALFRAME | DS_SETFONT;
    t.caption = GBK("扩展委托查询");
    t.fontFace = GBK("宋体");
    t.fontPointSize = 9;
    t.cx = 499;
    t.cy = 386;
    constexpr DWORD child = WS_CHILD | WS_VISIBLE;
    t.controls = {
        control(IDC_TAB_KINDS, wc::kTab, "Tab1", child | TCS_FOCUSONBUTTONDOWN, 7, 7, 485, 237),
        control(IDC_LIST_DETAIL, wc::kListView, "List1", child | WS_BORDER | WS_TABSTOP, 7, 266, 485, 88),
        control(IDC_STATIC_DETAIL, wc::kStatic, GBK("对应委托明细(选择规则记录，鼠标左双击或回车键刷新)"),
                child | WS_GROUP | SS_CENTERIMAGE, 7, 251, 485, 8),
        control(IDC_BTN_QUERY, wc::kButton, GBK("查询"), child | WS_TABSTOP | BS_PUSHBUTTON, 375, 362, 48,
                16),
        control(IDCANCEL, wc::kButton, GBK("退出"), child | WS_TABSTOP | BS_PUSHBUTTON, 432, 362, 48, 16),
    };
    return t;
}

DialogTemplate QueryConditionTemplate() {
    DialogTemplate t;
    t.id = IDD_QUERY_CONDITION;
    t.style = WS_POPUP | WS_CAPTION | WS_SYSMENU | DS_MODALFRAME | DS_SETFONT;
    t.caption = GBK("查询条件");
    t.fontFace = GBK("宋体");
    t.fontPointSize = 9;
    t.cx = 153;
    t.cy = 213;
    constexpr DWORD input = WS_CHILD | WS_VISIBLE | WS_TABSTOP;
    constexpr DWORD combo = input | WS_VSCROLL;
    t.controls = {
        label("营业部", 14),
        control(IDC_COMBO_BRANCH, wc::kComboBox, "", combo | CBS_DROPDOWN, 53, 14, 85, 28),
        label("群组", 32),
        control(IDC_COMBO_GROUP, wc::kComboBox, "", combo | CBS_DROPDOWN | CBS_SORT, 53, 32, 85, 28),
        label("客户号", 51),
        control(IDC_EDIT_CUSTOMER, wc::kEdit, "", input | WS_BORDER | ES_AUTOHSCROLL, 53, 51, 85, 14),
        label("交易所", 70),
        control(IDC_COMBO_EXCHANGE, wc::kComboBox, "", combo | CBS_DROPDOWN | CBS_SORT, 53, 70, 85, 28),
        label("合约品种", 88),
        control(IDC_COMBO_VARIETY, wc::kComboBox, "", combo | CBS_DROPDOWN | CBS_SORT, 53, 88, 85, 28),
        label("合约代码", 106),
        control(IDC_COMBO_CONTRACT, wc::kComboBox, "", combo | CBS_DROPDOWN | CBS_SORT, 53, 106, 85, 28),
        label("有效期内", 124),
        control(IDC_COMBO_VALIDITY, wc::kComboBox, "", combo | CBS_DROPDOWNLIST, 53, 124, 85, 28),
        label("开始日期", 142),
        control(IDC_DATE_BEGIN, wc::kDateTimePicker, "", input | DTS_LONGDATEFORMAT | DTS_RIGHTALIGN, 53, 142,
                85, 15),
        label("结束日期", 162),
        control(IDC_DATE_END, wc::kDateTimePicker, "", input | DTS_LONGDATEFORMAT | DTS_RIGHTALIGN, 53, 162,
                85, 15),
        control(IDOK, wc::kButton, GBK("确定"), input | BS_DEFPUSHBUTTON, 46, 190, 48, 16),
        control(IDCANCEL, wc::kButton, GBK("取消"), input | BS_PUSHBUTTON, 98, 190, 48, 16),
    };
    return t;
}

std::vector<DialogTemplate> ModuleDialogTemplates() {
    return {ExtOrderQueryTemplate(), QueryConditionTemplate()};
}

} // namespace orvo::res
