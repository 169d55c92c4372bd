#include "platform/Collections.h"
#include "platform/Resources.h"
#include "platform/Time.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <map>

namespace {

TEST(CTime, PartsAndFormatInLocalTime) {
    setenv("TZ", "Asia/Shanghai", 1);
    tzset();
    const CTime t(2026, 12, 7, 9, 5, 3);
    EXPECT_EQ(t.GetYear(), 2026);
    EXPECT_EQ(t.GetMonth(), 12);
    EXPECT_EQ(t.GetDay(), 7);
    EXPECT_EQ(t.GetHour(), 9);
    EXPECT_EQ(t.GetMinute(), 5);
    EXPECT_EQ(t.GetSecond(), 3);
    EXPECT_EQ(t.GetDayOfWeek(), 2); // a Monday
    EXPECT_EQ(t.Format("%Y.%m.%d"), "2026.12.07");
    EXPECT_EQ(t.Format("%H:%M:%S"), "09:05:03");
    EXPECT_EQ(t.Format(GBK("%Y年%m月")), GBK("2026年12月")); // GBK text around the codes is kept
    EXPECT_EQ(t.Format(""), "");
    EXPECT_EQ(CTime(2026, 13, 1).Format("%Y.%m.%d"), "2027.01.01"); // normalised like mktime
    EXPECT_GE(CTime::GetCurrentTime().GetTime(), std::time(nullptr) - 5);
}

TEST(CMapStringToPtr, LookupSetRemoveAndIterate) {
    CMapStringToPtr map;
    int a = 1, b = 2, c = 3;
    void* found = nullptr;
    EXPECT_FALSE(map.Lookup("XTDM", found));
    map.SetAt("YYB", &b);
    map.SetAt("XTDM", &a);
    map["QHPZ"] = &c;
    map.SetAt("YYB", &c); // replaces
    EXPECT_EQ(map.GetCount(), 3);
    ASSERT_TRUE(map.Lookup("YYB", found));
    EXPECT_EQ(found, &c);
    EXPECT_FALSE(map.Lookup("yyb", found)); // byte for byte
    EXPECT_FALSE(map.Lookup(nullptr, found));

    std::map<std::string, void*> seen;
    for (POSITION pos = map.GetStartPosition(); pos;) {
        CString key;
        void* value = nullptr;
        map.GetNextAssoc(pos, key, value);
        seen[key.str()] = value;
    }
    EXPECT_EQ(seen, (std::map<std::string, void*>{{"QHPZ", &c}, {"XTDM", &a}, {"YYB", &c}}));

    EXPECT_TRUE(map.RemoveKey("XTDM"));
    EXPECT_FALSE(map.RemoveKey("XTDM"));
    EXPECT_EQ(map.GetCount(), 2);
    map.RemoveAll();
    EXPECT_EQ(map.GetStartPosition(), nullptr);
}

TEST(CDWordArray, GrowsAndRefusesBadIndexes) {
    CDWordArray numbers;
    EXPECT_EQ(numbers.GetSize(), 0);
    EXPECT_EQ(numbers.Add(893), 0);
    EXPECT_EQ(numbers.Add(894), 1);
    EXPECT_EQ(numbers[1], 894u);
    numbers[0] = 7;
    EXPECT_EQ(numbers.GetAt(0), 7u);
    EXPECT_EQ(numbers.GetAt(5), 0u);
    EXPECT_EQ(numbers.GetAt(-1), 0u);
    numbers[9] = 5; // out of range: no write anywhere
    numbers.SetAt(-3, 5);
    EXPECT_EQ(numbers.GetSize(), 2);
    numbers.RemoveAt(0);
    EXPECT_EQ(numbers.GetAt(0), 894u);
    numbers.RemoveAll();
    EXPECT_TRUE(numbers.IsEmpty());
}

DialogTemplate makeTemplate(UINT id, const char* caption) {
    DialogTemplate t;
    t.id = id;
    t.caption = caption;
    t.controls.push_back(DialogControlTemplate{IDOK, orvo::wc::kButton, "OK", WS_CHILD, 1, 2, 3, 4});
    return t;
}

TEST(DialogTemplateRegistry, LatestRegistrationWinsAndUnloadRestoresTheChain) {
    const char ownerA = 0, ownerB = 0;
    orvo::RegisterDialogTemplates(&ownerA, {makeTemplate(70001, "A1"), makeTemplate(70002, "A2")});
    orvo::RegisterDialogTemplates(&ownerB, {makeTemplate(70001, "B1")});
    EXPECT_EQ(orvo::FindDialogTemplate(70001)->caption, "B1");
    EXPECT_EQ(orvo::FindDialogTemplate(70002)->caption, "A2"); // found further down the chain
    EXPECT_FALSE(orvo::FindDialogTemplate(70003).has_value());

    orvo::RegisterDialogTemplates(&ownerA, {makeTemplate(70001, "A1 again")}); // replaces A, now the latest
    EXPECT_EQ(orvo::FindDialogTemplate(70001)->caption, "A1 again");
    EXPECT_FALSE(orvo::FindDialogTemplate(70002).has_value());

    orvo::UnregisterDialogTemplates(&ownerA);
    EXPECT_EQ(orvo::FindDialogTemplate(70001)->caption, "B1");
    const auto found = orvo::FindDialogTemplate(70001);
    orvo::UnregisterDialogTemplates(&ownerB);
    EXPECT_FALSE(orvo::FindDialogTemplate(70001).has_value());
    // The copy handed out earlier outlives the registration.
    ASSERT_NE(found->FindControl(IDOK), nullptr);
    EXPECT_EQ(found->FindControl(IDOK)->text, "OK");
    EXPECT_EQ(found->FindControl(IDCANCEL), nullptr);
}

} // namespace
