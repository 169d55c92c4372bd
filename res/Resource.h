// Resource identifiers of the module: its two dialog templates and their controls.
#pragma once

// Query window
constexpr unsigned IDD_EXT_ORDER_QUERY = 9000;
constexpr int IDC_TAB_KINDS = 9001;     // tab control, one tab per order kind
constexpr int IDC_LIST_DETAIL = 9002;   // orders produced by the selected rule record
constexpr int IDC_STATIC_DETAIL = 9004; // caption of the detail list, also the splitter bar
constexpr int IDC_BTN_QUERY = 9014;     // opens the conditions dialog

// Conditions dialog
constexpr unsigned IDD_QUERY_CONDITION = 9001;
constexpr int IDC_COMBO_BRANCH = 9006;
constexpr int IDC_COMBO_GROUP = 9007;
constexpr int IDC_EDIT_CUSTOMER = 9008;
constexpr int IDC_COMBO_EXCHANGE = 9009;
constexpr int IDC_COMBO_VARIETY = 9010;
constexpr int IDC_COMBO_CONTRACT = 9011;
constexpr int IDC_COMBO_VALIDITY = 9012;
constexpr int IDC_DATE_BEGIN = 9013;
constexpr int IDC_DATE_END = 9014;
