#include "protocol/Header.h"

#include "protocol/FrameBuilder.h"

namespace orvo::proto {

namespace {

constexpr std::uint64_t kMaxSeq = 0xFFFFFFFFu;
constexpr std::uint64_t kMaxStatus = 999;
constexpr std::uint64_t kMaxRows = 0xFFFFFFFFFFFFull;

bool ReadNumber(std::string_view text, std::uint64_t max, std::uint64_t& value) {
    return ParseDecimal(text, max, value);
}

} // namespace

Error ReadHeader(std::span<const Item> items, Header& header) {
    header = Header{};
    if (items.empty() || items[0].tag != kTagType || items[0].value.size() != 1)
        return Error::MissingType;
    const char type = items[0].value[0];
    if (type != 'Q' && type != 'R' && type != 'E')
        return Error::MissingType;
    header.type = static_cast<MessageType>(type);

    bool haveSeq = false, haveFunction = false, haveStatus = false;
    std::size_t i = 1;
    for (; i < items.size() && items[i].IsTag() && items[i].tag < kFirstDataTag; ++i) {
        const Item& item = items[i];
        std::uint64_t number = 0;
        switch (item.tag) {
        case kTagSeq:
            if (haveSeq || !ReadNumber(item.value, kMaxSeq, number))
                return Error::BadSequence;
            header.seq = static_cast<std::uint32_t>(number);
            haveSeq = true;
            break;
        case kTagFunction:
            if (haveFunction || !ReadNumber(item.value, kMaxTag, number) || number == 0)
                return Error::BadFunction;
            header.function = static_cast<std::uint32_t>(number);
            haveFunction = true;
            break;
        case kTagStatus:
            if (haveStatus || !ReadNumber(item.value, kMaxStatus, number))
                return Error::BadStatus;
            header.status = static_cast<int>(number);
            haveStatus = true;
            break;
        case kTagText:
            header.text = item.value;
            break;
        case kTagRows:
            if (!ReadNumber(item.value, kMaxRows, number))
                return Error::BadStatus;
            header.rows = number;
            break;
        default:
            break; // other protocol items (e.g. 30) are the caller's
        }
    }
    header.firstData = i;
    if (!haveSeq)
        return Error::BadSequence;
    if (header.type == MessageType::Request && !haveFunction)
        return Error::BadFunction;
    if (header.type == MessageType::End && !haveStatus)
        return Error::BadStatus;
    return Error::None;
}

std::string_view ValueOf(std::span<const Item> items, std::uint32_t tag) {
    for (const Item& item : items)
        if (item.tag == tag && tag != 0)
            return item.value;
    return {};
}

void AddRequestHead(FrameBuilder& builder, std::uint32_t seq, std::uint32_t function) {
    builder.Add(kTagType, "Q").Add(kTagSeq, seq).Add(kTagFunction, function);
}

void AddRowHead(FrameBuilder& builder, std::uint32_t seq) {
    builder.Add(kTagType, "R").Add(kTagSeq, seq);
}

Error AppendEnd(std::string& out, std::uint32_t seq, int status, std::string_view text, std::uint64_t rows) {
    FrameBuilder builder(out);
    builder.Add(kTagType, "E").Add(kTagSeq, seq).Add(kTagStatus, status);
    if (!text.empty())
        builder.Add(kTagText, text);
    builder.Add(kTagRows, static_cast<long long>(rows));
    return builder.Finish();
}

const char* StatusName(int status) {
    switch (status) {
    case kStatusOk:
        return "ok";
    case kStatusBadRequest:
        return "bad request";
    case kStatusNotLoggedIn:
        return "not logged in";
    case kStatusNotPermitted:
        return "not permitted";
    case kStatusUnknownFunction:
        return "unknown function";
    case kStatusLimit:
        return "limit reached or busy";
    case kStatusInternal:
        return "internal error";
    default:
        return "unknown status";
    }
}

} // namespace orvo::proto
