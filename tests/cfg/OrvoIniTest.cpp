#include "host/cfg/OrvoIni.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>
#include <unistd.h>

namespace {

class IniFile {
public:
    explicit IniFile(const std::string& bytes) {
        m_path = (std::filesystem::temp_directory_path() /
                  ("orvo_ini_" + std::to_string(::getpid()) + "_" + std::to_string(s_counter++) + ".ini"))
                     .string();
        std::ofstream(m_path, std::ios::binary) << bytes;
    }
    ~IniFile() { std::remove(m_path.c_str()); }
    IniFile(const IniFile&) = delete;
    IniFile& operator=(const IniFile&) = delete;
    const std::string& path() const { return m_path; }

private:
    static inline int s_counter = 0;
    std::string m_path;
};

TEST(OrvoIni, ReadsValuesInGbkWithDefaults) {
    const IniFile file("\xEF\xBB\xBF; client settings\n"
                       "[SYSTEM]\r\n"
                       "KHHPRE = 0101 \r\n"
                       "Name=扩展委托查询 ; trailing comment\n"
                       "Password=a#b;c\n"
                       "Empty=\n"
                       "KHHPRE=9999\n"
                       "garbage line\n"
                       "[Other]\n"
                       "KHHPRE=0202\n");
    COrvoIni ini(file.path());
    EXPECT_EQ(ini.GetValue("SYSTEM", "KHHPRE", "x"), "0101");
    EXPECT_EQ(ini.GetValue("system", "khhpre", "x"), "0101"); // ASCII case does not matter
    EXPECT_EQ(ini.GetValue("Other", "KHHPRE"), "0202");
    EXPECT_EQ(ini.GetValue("SYSTEM", "Name"), GBK("扩展委托查询"));
    EXPECT_EQ(ini.GetValue("SYSTEM", "Password"), "a#b;c"); // only a comment after a blank is cut
    EXPECT_EQ(ini.GetValue("SYSTEM", "Empty", "dflt"), "");
    EXPECT_EQ(ini.GetValue("SYSTEM", "Missing", "dflt"), "dflt");
    EXPECT_EQ(ini.GetValue("NoSection", "KHHPRE", "dflt"), "dflt");
    EXPECT_EQ(ini.GetValue("SYSTEM", "Missing"), "");
}

TEST(OrvoIni, GbkSectionNamesWithTrailBytesThatLookLikeBrackets) {
    // "\xDA\x5D" is one character whose trail byte reads as ']'; the file is in GBK (not UTF-8).
    const IniFile file("[\xDA\x5D\xCA\xFD]\nKey=\xCA\xFD\n");
    COrvoIni ini(file.path());
    EXPECT_EQ(ini.GetValue("\xDA\x5D\xCA\xFD", "KEY").str(), "\xCA\xFD");
}

TEST(OrvoIni, MissingFileIsAnEmptyConfiguration) {
    COrvoIni ini("/nonexistent/orvo.ini");
    EXPECT_EQ(ini.GetValue("SYSTEM", "KHHPRE", "d"), "d");
    EXPECT_FALSE(ini.Load("/nonexistent/orvo.ini"));
    EXPECT_EQ(ini.GetPath(), "/nonexistent/orvo.ini");
    ini.SetValue("SYSTEM", "KHHPRE", "77");
    EXPECT_EQ(ini.GetValue("system", "KHHPRE"), "77");
}

TEST(OrvoIni, ReloadForgetsOldValues) {
    const IniFile first("[A]\nk=1\n");
    const IniFile second("[A]\nj=2\n");
    COrvoIni ini(first.path());
    EXPECT_EQ(ini.GetValue("A", "k"), "1");
    EXPECT_TRUE(ini.Load(second.path()));
    EXPECT_EQ(ini.GetValue("A", "k", "gone"), "gone");
    EXPECT_EQ(ini.GetValue("A", "j"), "2");
}

} // namespace
