#include "query/RuleRecordLayouts.h"

namespace {

template <typename Pick> std::array<CString, ORDER_KIND_COUNT> ConvertKinds(Pick pick) {
    std::array<CString, ORDER_KIND_COUNT> converted;
    for (size_t i = 0; i < converted.size(); ++i)
        converted[i] = CString::FromUtf8(pick(kOrderKinds[i]));
    return converted;
}

} // namespace

const CString& GetOrderKindTitle(int kind) {
    static const auto titles = ConvertKinds([](const OrderKindInfo& k) { return k.titleUtf8; });
    return titles[static_cast<size_t>(kind)];
}

const CString& GetRuleLayout(int kind) {
    static const auto rules = ConvertKinds([](const OrderKindInfo& k) { return k.layoutUtf8; });
    return rules[static_cast<size_t>(kind)];
}

const CString& GetDetailLayout() {
    static const CString detail = CString::FromUtf8(layouts::kDetail);
    return detail;
}
