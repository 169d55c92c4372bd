#include "server/functions/Request.h"

#include "protocol/Header.h"

#include "server/common/Gbk.h"

#include <charconv>

namespace orvo::server {

const proto::Item* Request::find(std::uint32_t tag) const {
    for (const proto::Item& item : items)
        if (item.tag == tag)
            return &item;
    return nullptr;
}

Outcome ok(std::string text) {
    return Outcome{0, std::move(text), false};
}

Outcome fail(int status, std::string text) {
    return Outcome{status, std::move(text), false};
}

Outcome databaseFailure(const std::string& error) {
    Outcome outcome = fail(proto::kStatusInternal, "database unavailable");
    outcome.logDetail = "database error: " + error;
    return outcome;
}

bool readText(const Request& request, std::uint32_t tag, std::size_t maxBytes, std::string& out,
              bool& present, std::string& error) {
    out.clear();
    const proto::Item* item = request.find(tag);
    present = item != nullptr;
    if (!item)
        return true;
    if (item->value.size() > maxBytes) {
        error = "item " + std::to_string(tag) + " is longer than " + std::to_string(maxBytes) + " bytes";
        return false;
    }
    if (!gbkToUtf8(item->value, out)) {
        error = "item " + std::to_string(tag) + " is not GBK text";
        return false;
    }
    return true;
}

bool readInteger(const Request& request, std::uint32_t tag, long long& out, bool& present,
                 std::string& error) {
    out = 0;
    const proto::Item* item = request.find(tag);
    present = item != nullptr;
    if (!item)
        return true;
    std::string_view text = item->value;
    if (!text.empty() && text.front() == '+')
        text.remove_prefix(1);
    auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), out);
    if (text.empty() || ec != std::errc() || end != text.data() + text.size()) {
        error = "item " + std::to_string(tag) + " is not a whole number";
        return false;
    }
    return true;
}

} // namespace orvo::server
