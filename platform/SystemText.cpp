#include "platform/SystemText.h"

#include <cerrno>
#include <cstring>
#include <iconv.h>
#include <langinfo.h>
#include <netdb.h>

namespace orvo {
namespace {

const iconv_t kNoConverter = reinterpret_cast<iconv_t>(-1); // NOLINT(performance-no-int-to-ptr)

bool IsAscii(std::string_view text) {
    for (const char c : text)
        if (static_cast<unsigned char>(c) >= 0x80)
            return false;
    return true;
}

// The C library's own text in GBK, or `fallback` and the number when it does not convert.
std::string SystemText(const char* text, const char* fallback, int number) {
    std::string gbk = LocaleTextToGbk(text ? std::string_view(text) : std::string_view());
    if (gbk.empty())
        gbk = std::string(fallback) + " " + std::to_string(number);
    return gbk;
}

} // namespace

std::string LocaleTextToGbk(std::string_view text) {
    if (IsAscii(text))
        return std::string(text);
    // Opened per call: system texts are rare (failures), and the locale may have changed since the last.
    const iconv_t cd = iconv_open("GBK", nl_langinfo(CODESET));
    if (cd == kNoConverter)
        return {};
    std::string out;
    char* in = const_cast<char*>(text.data()); // iconv's signature is not const-correct
    std::size_t inLeft = text.size();
    char buffer[256];
    bool whole = true;
    while (inLeft > 0 && whole) {
        char* outPtr = buffer;
        std::size_t outLeft = sizeof buffer;
        const std::size_t rc = iconv(cd, &in, &inLeft, &outPtr, &outLeft);
        out.append(buffer, sizeof buffer - outLeft);
        whole = rc != static_cast<std::size_t>(-1) || errno == E2BIG;
    }
    iconv_close(cd);
    return whole ? out : std::string();
}

std::string SystemErrorText(int errnum) {
    char buffer[256];
    // The GNU strerror_r returns the text, which may or may not be in the buffer.
    return SystemText(strerror_r(errnum, buffer, sizeof buffer), "system error", errnum);
}

std::string ResolverErrorText(int code) {
    return SystemText(gai_strerror(code), "name lookup error", code);
}

} // namespace orvo
