#include "server/common/Gbk.h"

#include <cerrno>
#include <iconv.h>

namespace orvo::server {
namespace {

// One converter per thread and direction: iconv_t keeps shift state and is not thread-safe.
class Converter {
public:
    Converter(const char* to, const char* from) : m_cd(iconv_open(to, from)) {}
    ~Converter() {
        if (m_cd != reinterpret_cast<iconv_t>(-1))
            iconv_close(m_cd);
    }
    Converter(const Converter&) = delete;
    Converter& operator=(const Converter&) = delete;
    bool ok() const { return m_cd != reinterpret_cast<iconv_t>(-1); }
    iconv_t handle() const { return m_cd; }

private:
    iconv_t m_cd;
};

Converter& toGbk() {
    thread_local Converter c("GBK", "UTF-8");
    return c;
}
Converter& toUtf8() {
    thread_local Converter c("UTF-8", "GBK");
    return c;
}

// Bytes to skip for a character iconv could not convert: the lead byte and the continuation bytes
// that really follow it, so a stray byte never swallows the good text after it.
size_t badSequenceLength(const char* in, size_t left) {
    size_t length = 1;
    while (length < left && length < 4 && (static_cast<unsigned char>(in[length]) & 0xC0) == 0x80)
        ++length;
    return length;
}

} // namespace

bool isAscii(std::string_view text) {
    for (unsigned char c : text)
        if (c >= 0x80)
            return false;
    return true;
}

void utf8ToGbk(std::string_view utf8, std::string& out) {
    out.clear();
    if (isAscii(utf8)) {
        out.assign(utf8);
        return;
    }
    Converter& conv = toGbk();
    if (!conv.ok()) {
        out.assign(utf8.size(), '?');
        return;
    }
    iconv(conv.handle(), nullptr, nullptr, nullptr, nullptr);
    out.resize(utf8.size() + 8); // GBK never needs more bytes than UTF-8 for the same text
    char* in = const_cast<char*>(utf8.data());
    size_t inLeft = utf8.size();
    char* dst = out.data();
    size_t outLeft = out.size();
    while (inLeft > 0) {
        size_t r = iconv(conv.handle(), &in, &inLeft, &dst, &outLeft);
        if (r != static_cast<size_t>(-1))
            break;
        if (errno == E2BIG) { // cannot happen with the bound above; stay safe anyway
            size_t used = static_cast<size_t>(dst - out.data());
            out.resize(out.size() * 2);
            dst = out.data() + used;
            outLeft = out.size() - used;
            continue;
        }
        // EILSEQ or EINVAL: replace one character and go on.
        const size_t skip = badSequenceLength(in, inLeft);
        in += skip;
        inLeft -= skip;
        if (outLeft == 0) {
            size_t used = static_cast<size_t>(dst - out.data());
            out.resize(out.size() + 16);
            dst = out.data() + used;
            outLeft = out.size() - used;
        }
        *dst++ = '?';
        --outLeft;
    }
    out.resize(static_cast<size_t>(dst - out.data()));
}

bool utf8FitsGbk(std::string_view utf8) {
    if (isAscii(utf8))
        return true;
    Converter& conv = toGbk();
    if (!conv.ok())
        return false;
    iconv(conv.handle(), nullptr, nullptr, nullptr, nullptr);
    std::string out(utf8.size() + 8, '\0');
    char* in = const_cast<char*>(utf8.data());
    size_t inLeft = utf8.size();
    char* dst = out.data();
    size_t outLeft = out.size();
    return iconv(conv.handle(), &in, &inLeft, &dst, &outLeft) != static_cast<size_t>(-1) && inLeft == 0;
}

std::string utf8ToGbk(std::string_view utf8) {
    std::string out;
    utf8ToGbk(utf8, out);
    return out;
}

bool gbkToUtf8(std::string_view gbk, std::string& out) {
    out.clear();
    if (isAscii(gbk)) {
        out.assign(gbk);
        return true;
    }
    Converter& conv = toUtf8();
    if (!conv.ok())
        return false;
    iconv(conv.handle(), nullptr, nullptr, nullptr, nullptr);
    out.resize(gbk.size() * 2 + 4); // a GBK pair becomes at most three UTF-8 bytes
    char* in = const_cast<char*>(gbk.data());
    size_t inLeft = gbk.size();
    char* dst = out.data();
    size_t outLeft = out.size();
    if (iconv(conv.handle(), &in, &inLeft, &dst, &outLeft) == static_cast<size_t>(-1))
        return false;
    out.resize(static_cast<size_t>(dst - out.data()));
    return true;
}

} // namespace orvo::server
