#include "platform/QtText.h"

#include <gtest/gtest.h>

namespace {

TEST(QtText, GbkAndQStringMeetAtTheDisplayEdge) {
    const QString shown = orvo::ToQString(GBK("扩展委托查询"));
    EXPECT_EQ(shown, QString::fromUtf8("扩展委托查询"));
    EXPECT_EQ(shown.size(), 6);
    EXPECT_EQ(orvo::FromQString(shown), GBK("扩展委托查询"));
    EXPECT_EQ(orvo::FromQString(QString::fromUtf8("a\xF0\x9F\x98\x80"
                                                  "b"))
                  .str(),
              "a?b");                                                    // not in GBK
    EXPECT_EQ(orvo::ToQString(CString("\xCA")), QString(QChar(0xFFFD))); // broken GBK
    EXPECT_TRUE(orvo::ToQString(CString()).isEmpty());
}

} // namespace
