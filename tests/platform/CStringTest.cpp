#include "platform/CString.h"
#include "platform/GbkText.h"
#include "platform/SystemText.h"

#include <cerrno>
#include <clocale>
#include <string>

#include <gtest/gtest.h>

namespace {

// "数" in GBK is CA FD. DA 5C and DA 7C are two-byte characters whose trail bytes read as '\\' and '|'.
const std::string kShu = "\xCA\xFD";
const std::string kBackslashTrail = "\xDA\x5C";
const std::string kBarTrail = "\xDA\x7C";

TEST(CStringGbk, Utf8LiteralBecomesGbkOnceAndRoundTrips) {
    const CString& text = GBK("扩展委托查询");
    EXPECT_EQ(text.GetLength(), 12); // six characters, two bytes each
    EXPECT_EQ(text.str(), "\xC0\xA9\xD5\xB9\xCE\xAF\xCD\xD0\xB2\xE9\xD1\xAF");
    EXPECT_EQ(text.ToUtf8(), "扩展委托查询");
    const CString* first = nullptr;
    for (int i = 0; i < 2; ++i) {
        const CString& literal = GBK("查询"); // one conversion per call site, reused after
        if (!first)
            first = &literal;
        EXPECT_EQ(first, &literal);
    }
}

TEST(CStringGbk, UnmappableAndBrokenInput) {
    EXPECT_EQ(CString::FromUtf8("x😀y").str(), "x?y");    // outside GBK
    EXPECT_EQ(CString::FromUtf8("x\xC3y").str(), "x?y"); // truncated UTF-8
    EXPECT_EQ(CString("\xCA").ToUtf8(), "\xEF\xBF\xBD"); // lone lead byte at the end
    EXPECT_EQ(CString("a\xFF"
                      "b")
                  .ToUtf8(),
              "a\xEF\xBF\xBD"
              "b");
}

// The system's texts come in the locale's encoding: converted to GBK once, never taken for GBK as they are.
TEST(CStringGbk, SystemTextsAreConvertedFromTheLocalesEncoding) {
    const std::string before = std::setlocale(LC_CTYPE, nullptr);
    ASSERT_NE(std::setlocale(LC_CTYPE, "C.UTF-8"), nullptr);
    // What strerror gives under a Chinese UTF-8 locale.
    EXPECT_EQ(orvo::LocaleTextToGbk("拒绝连接"), CString::FromUtf8("拒绝连接").str());
    EXPECT_EQ(orvo::LocaleTextToGbk("bad \xE6\x8B"), "") << "broken bytes are no text to show";
    EXPECT_EQ(orvo::LocaleTextToGbk("x😀"), "") << "a character GBK lacks";
    // Under a locale of another encoding the same bytes are not taken for its text.
    ASSERT_NE(std::setlocale(LC_CTYPE, "C"), nullptr);
    EXPECT_EQ(orvo::LocaleTextToGbk("拒绝连接"), "");
    EXPECT_EQ(orvo::SystemErrorText(ECONNREFUSED), "Connection refused");
    std::setlocale(LC_CTYPE, before.c_str());
}

TEST(CStringGbk, EveryTwoByteGbkCharacterRoundTrips) {
    int mapped = 0;
    for (int lead = 0x81; lead <= 0xFE; ++lead)
        for (int trail = 0x40; trail <= 0xFE; ++trail) {
            if (trail == 0x7F)
                continue;
            const std::string gbk{static_cast<char>(lead), static_cast<char>(trail)};
            const std::string utf8 = orvo::GbkToUtf8(gbk);
            if (utf8 == "\xEF\xBF\xBD\xEF\xBF\xBD" || utf8.find("\xEF\xBF\xBD") != std::string::npos)
                continue; // unassigned code point
            ++mapped;
            ASSERT_EQ(orvo::Utf8ToGbk(utf8), gbk) << std::hex << lead << ' ' << trail;
        }
    EXPECT_GT(mapped, 21000);
}

TEST(CStringGbk, SearchesNeverMatchInsideACharacter) {
    const CString text((kBackslashTrail + "a\\b" + kBarTrail + "|").c_str());
    EXPECT_EQ(text.Find('\\'), 3);
    EXPECT_EQ(text.Find("|"), 7);
    EXPECT_EQ(text.ReverseFind('\\'), 3);
    EXPECT_EQ(text.Find("\\", 4), -1);
    EXPECT_EQ(CString(kBackslashTrail.c_str()).Find('\\'), -1);

    CString replaced((kBackslashTrail + "\\").c_str());
    EXPECT_EQ(replaced.Replace("\\", "/"), 1);
    EXPECT_EQ(replaced.str(), kBackslashTrail + "/");
}

TEST(CStringGbk, TrimAndCaseKeepTwoByteCharactersWhole) {
    // "@" (0x40) and "a" (0x61) are trail bytes here; trimming or folding must leave them alone.
    CString trail(("  " + std::string("\x81\x40") + "\x81\x61" + " \t").c_str());
    trail.Trim();
    EXPECT_EQ(trail.str(), "\x81\x40\x81\x61");
    trail.TrimRight("@a");
    EXPECT_EQ(trail.str(), "\x81\x40\x81\x61");
    trail.MakeUpper();
    EXPECT_EQ(trail.str(), "\x81\x40\x81\x61");

    CString mixed(("ab" + kShu + "cd").c_str());
    mixed.MakeUpper();
    EXPECT_EQ(mixed.str(), "AB" + kShu + "CD");
    EXPECT_EQ(mixed.CompareNoCase(("ab" + kShu + "cd").c_str()), 0);
    EXPECT_NE(CString("\x81\x41").CompareNoCase("\x81\x61"), 0); // trail bytes are not letters

    CString xs("xxabcxx");
    EXPECT_EQ(xs.Trim("x").str(), "abc");
}

TEST(CStringGbk, SlicesCountBytesAndClamp) {
    const CString text(("12" + kShu + "34").c_str());
    EXPECT_EQ(text.GetLength(), 6);
    EXPECT_EQ(text.Left(4).str(), "12" + kShu);
    EXPECT_EQ(text.Right(2).str(), "34");
    EXPECT_EQ(text.Mid(2, 2).str(), kShu);
    EXPECT_EQ(text.Mid(4).str(), "34");
    EXPECT_EQ(text.Left(-1).str(), "");
    EXPECT_EQ(text.Left(100).str(), text.str());
    EXPECT_EQ(text.Right(100).str(), text.str());
    EXPECT_EQ(text.Mid(100).str(), "");
    EXPECT_EQ(text.Mid(-3, 2).str(), "12");
}

TEST(CStringGbk, ComparisonIsByteWiseUnsigned) {
    EXPECT_LT(CString("a").Compare("\xB0\xA1"), 0); // 0x61 < 0xB0 as unsigned bytes
    EXPECT_GT(CString("\xB0\xA1").Compare("a"), 0);
    EXPECT_TRUE(CString("a") < CString("\xB0\xA1"));
    EXPECT_EQ(CString("abc").Compare("abc"), 0);
    EXPECT_LT(CString("ab").Compare("abc"), 0);
    EXPECT_GT(CString("abc").CompareNoCase("AB"), 0);
}

TEST(CStringFormat, FormsTheModuleUses) {
    CString s;
    s.Format("%li", -893L);
    EXPECT_EQ(s.str(), "-893");
    s.Format("%.2lf", 3.14159);
    EXPECT_EQ(s.str(), "3.14");
    s.Format("%s|%5s|%-5s|", "a", "b", "c");
    EXPECT_EQ(s.str(), "a|    b|c    |");
    s.Format("%d%%", 50);
    EXPECT_EQ(s.str(), "50%");
    s.Format("%*d|%.*s", 4, 7, 2, "xyz");
    EXPECT_EQ(s.str(), "   7|xy");
    s.AppendFormat("+%lu", 3UL);
    EXPECT_EQ(s.str(), "   7|xy+3");
}

#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wformat"
TEST(CStringFormat, ZeroFlagPadsTextWithZeros) {
    CString s;
    s.Format("%s%08s", "0101", "123");
    EXPECT_EQ(s.str(), "010100000123");
    s.Format("%08s", "123456789"); // longer than the field: kept whole
    EXPECT_EQ(s.str(), "123456789");
    s.Format("%-08s|", "12"); // '-' wins over '0'
    EXPECT_EQ(s.str(), "12      |");
    s.Format("%04s", (kShu).c_str());
    EXPECT_EQ(s.str(), "00" + kShu);
}
#pragma GCC diagnostic pop

// Formats the compiler would reject at a Format call site, sent the way a run-time format string would be.
CString formatUnchecked(const char* format, ...) {
    va_list args;
    va_start(args, format);
    CString s;
    s.FormatV(format, args);
    va_end(args);
    return s;
}

TEST(CStringFormat, OddFormatsStayHarmless) {
    EXPECT_EQ(formatUnchecked("100%").str(), "100%");
    EXPECT_EQ(formatUnchecked("%s", static_cast<const char*>(nullptr)).str(), "(null)");
    EXPECT_EQ(formatUnchecked("a%qb", 1).str(), "a%qb"); // unknown conversion kept, no argument taken
    CString s;
    std::string big(5000, 'x');
    s.Format("[%s]", big.c_str());
    EXPECT_EQ(s.GetLength(), 5002);
}

} // namespace
