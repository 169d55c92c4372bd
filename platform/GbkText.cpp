#include "platform/GbkText.h"

#include <cerrno>
#include <iconv.h>

namespace orvo {
namespace {

// glibc's "GBK" decoder; "CP936" adds the euro sign at 0x80, which the host's text never carries.
constexpr const char* kGbkCodeSet = "GBK";

// iconv_open's failure value.
const iconv_t kNoConverter = reinterpret_cast<iconv_t>(-1); // NOLINT(performance-no-int-to-ptr)

// One conversion descriptor per thread and direction: opening one costs far more than converting a field.
class Converter {
public:
    Converter(const char* to, const char* from) : m_cd(iconv_open(to, from)) {}
    ~Converter() {
        if (m_cd != kNoConverter)
            iconv_close(m_cd);
    }
    Converter(const Converter&) = delete;
    Converter& operator=(const Converter&) = delete;

    bool ok() const { return m_cd != kNoConverter; }

    // Converts as much as it can and returns how many input bytes it consumed; the caller decides what to do
    // with the byte that stopped it.
    std::size_t convert(std::string_view in, std::string& out) {
        iconv(m_cd, nullptr, nullptr, nullptr, nullptr); // reset shift state
        char* inPtr = const_cast<char*>(in.data());      // iconv's signature is not const-correct
        std::size_t inLeft = in.size();
        char buffer[1024];
        while (inLeft > 0) {
            char* outPtr = buffer;
            std::size_t outLeft = sizeof buffer;
            const std::size_t rc = iconv(m_cd, &inPtr, &inLeft, &outPtr, &outLeft);
            out.append(buffer, sizeof buffer - outLeft);
            if (rc == static_cast<std::size_t>(-1) && errno != E2BIG)
                break; // EILSEQ or EINVAL: stopped at a byte it cannot take
        }
        return in.size() - inLeft;
    }

private:
    iconv_t m_cd;
};

Converter& toGbk() {
    thread_local Converter converter(kGbkCodeSet, "UTF-8");
    return converter;
}

Converter& toUtf8() {
    thread_local Converter converter("UTF-8", kGbkCodeSet);
    return converter;
}

bool isAscii(std::string_view text) {
    for (const char c : text)
        if (static_cast<unsigned char>(c) >= 0x80)
            return false;
    return true;
}

// Length of the well-formed UTF-8 sequence at text[pos], or 0 when it is broken.
std::size_t utf8SequenceLength(std::string_view text, std::size_t pos) {
    const auto b = [&](std::size_t i) { return static_cast<unsigned char>(text[i]); };
    const unsigned char lead = b(pos);
    std::size_t length = 0;
    unsigned char lo = 0x80, hi = 0xBF;
    if (lead < 0x80)
        return 1;
    if (lead >= 0xC2 && lead <= 0xDF)
        length = 2;
    else if (lead >= 0xE0 && lead <= 0xEF) {
        length = 3;
        if (lead == 0xE0)
            lo = 0xA0;
        if (lead == 0xED)
            hi = 0x9F; // no surrogates
    } else if (lead >= 0xF0 && lead <= 0xF4) {
        length = 4;
        if (lead == 0xF0)
            lo = 0x90;
        if (lead == 0xF4)
            hi = 0x8F;
    } else
        return 0;
    if (pos + length > text.size())
        return 0;
    if (b(pos + 1) < lo || b(pos + 1) > hi)
        return 0;
    for (std::size_t i = 2; i < length; ++i)
        if (b(pos + i) < 0x80 || b(pos + i) > 0xBF)
            return 0;
    return length;
}

} // namespace

bool IsValidUtf8(std::string_view text) {
    for (std::size_t pos = 0; pos < text.size();) {
        const std::size_t length = utf8SequenceLength(text, pos);
        if (length == 0)
            return false;
        pos += length;
    }
    return true;
}

std::string Utf8ToGbk(std::string_view utf8) {
    if (isAscii(utf8))
        return std::string(utf8);
    std::string out;
    out.reserve(utf8.size());
    Converter& converter = toGbk();
    std::size_t pos = 0;
    while (pos < utf8.size()) {
        if (!converter.ok()) {
            out.append(utf8.size() - pos, '?');
            break;
        }
        pos += converter.convert(utf8.substr(pos), out);
        if (pos >= utf8.size())
            break;
        // Stopped on a character GBK lacks or on broken UTF-8: one '?' per character, or per bad byte.
        const std::size_t length = utf8SequenceLength(utf8, pos);
        out += '?';
        pos += length == 0 ? 1 : length;
    }
    return out;
}

std::string GbkToUtf8(std::string_view gbk) {
    if (isAscii(gbk))
        return std::string(gbk);
    static constexpr std::string_view kReplacement = "\xEF\xBF\xBD";
    std::string out;
    out.reserve(gbk.size() * 3 / 2);
    Converter& converter = toUtf8();
    std::size_t pos = 0;
    while (pos < gbk.size()) {
        if (!converter.ok()) {
            for (; pos < gbk.size(); ++pos)
                if (static_cast<unsigned char>(gbk[pos]) < 0x80)
                    out += gbk[pos];
                else
                    out += kReplacement;
            break;
        }
        pos += converter.convert(gbk.substr(pos), out);
        if (pos >= gbk.size())
            break;
        out += kReplacement;
        ++pos;
    }
    return out;
}

} // namespace orvo
