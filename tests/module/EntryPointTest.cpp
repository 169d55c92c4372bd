#include "LoadedModule.h"

#include "platform/Resources.h"
#include "res/Resource.h"

#include <gtest/gtest.h>

#include <memory>

namespace {

// One load for the whole suite, as a host does; each test first puts the state it relies on in place.
class EntryPoints : public ::testing::Test {
protected:
    static void SetUpTestSuite() { s_module = std::make_unique<LoadedModule>(); }
    static void TearDownTestSuite() { s_module.reset(); }
    void SetUp() override { ASSERT_TRUE(s_module->ok()) << s_module->error(); }

    static CString status() { return m().getParam(7); }
    static LoadedModule& m() { return *s_module; }
    static inline std::unique_ptr<LoadedModule> s_module;
};

TEST_F(EntryPoints, IdentityTexts) {
    EXPECT_EQ(m().getParam(1), "Aug  1 2008");
    EXPECT_EQ(m().getParam(2), "OVI");
    EXPECT_EQ(m().getParam(4), "1.00");
    EXPECT_EQ(m().getParam(5), "orvo nd7100 module");
    EXPECT_EQ(m().getParam(8), "893");
    EXPECT_EQ(m().getParam(8), "893"); // reading does not append
}

TEST_F(EntryPoints, InitSetsStatusOkAndGetParamClearsIt) {
    EXPECT_EQ(m().init(), 1);
    EXPECT_EQ(status(), "ok");
    EXPECT_EQ(status(), ""); // the first GetParam(7) cleared it
    m().init();
    m().getParam(1); // any successful GetParam clears the status as well
    EXPECT_EQ(status(), "");
}

TEST_F(EntryPoints, RefusedObjectsLeaveFormattedStatusTexts) {
    int dummy = 0;
    EXPECT_EQ(m().setOrvoData(101, &dummy), 0);
    EXPECT_EQ(status(), GBK("不能三层设置模块(101)"));
    EXPECT_EQ(status(), "");

    EXPECT_EQ(m().setOrvoData(107, &dummy), 0);
    EXPECT_EQ(status(), GBK("未知数据类型(107)"));
    EXPECT_EQ(m().setOrvoData(-5, nullptr), 0);
    EXPECT_EQ(status(), GBK("未知数据类型(-5)"));

    // An accepted object clears an earlier refusal.
    m().setOrvoData(107, &dummy);
    EXPECT_EQ(m().setOrvoData(104, &dummy), 1);
    EXPECT_EQ(status(), "");
}

TEST_F(EntryPoints, UnknownParameterCodesGiveEmptyTextAndAStatus) {
    for (const long code : {6L, 0L, 9L, -1L}) {
        EXPECT_EQ(m().getParam(code), "") << code;
        CString expected;
        expected.Format("%s(%li)", GBK("无法取出参数").GetString(), code);
        EXPECT_EQ(status(), expected) << code;
    }
}

TEST_F(EntryPoints, ModuleNameFollowsSetParamSix) {
    m().setParam(6, GBK("扩展委托查询"));
    EXPECT_EQ(m().getParam(3), GBK("扩展委托查询"));
    EXPECT_EQ(m().setParam(6, GBK("条件单查询")), 1);
    EXPECT_EQ(m().getParam(3), GBK("条件单查询"));
    EXPECT_EQ(m().setParam(6, ""), 1);
    EXPECT_EQ(m().getParam(3), "");
    m().setParam(6, GBK("扩展委托查询"));
}

TEST_F(EntryPoints, SetParamAndSetFuncNeverTouchTheStatus) {
    m().init();
    EXPECT_EQ(m().setParam(2, " -12abc"), 1);
    EXPECT_EQ(m().setParam(2, "none"), 1);
    EXPECT_EQ(m().setParam(9, "x"), 1);
    EXPECT_EQ(m().setFunc(893), 1);
    EXPECT_EQ(m().close(), 1);
    EXPECT_EQ(m().getParam(3), GBK("扩展委托查询")); // code 9 changed nothing
    m().init();
    m().setParam(9, "x");
    EXPECT_EQ(status(), "ok");
}

TEST_F(EntryPoints, MainRefusesWithoutEveryHostObject) {
    int fixComm = 0, ini = 0, tables = 0;
    m().setOrvoData(102, &fixComm);
    m().setOrvoData(103, &ini);
    m().setOrvoData(105, &tables);
    m().setOrvoData(106, nullptr); // handed over as null counts as missing
    EXPECT_EQ(m().main(), 1);
    EXPECT_EQ(status(), GBK("缺少主程序对象(106)"));

    m().setOrvoData(103, nullptr);
    EXPECT_EQ(m().main(), 1);
    EXPECT_EQ(status(), GBK("缺少主程序对象(103)"));
    m().setOrvoData(102, nullptr);
    m().setOrvoData(105, nullptr);
}

TEST_F(EntryPoints, TemplatesAreInTheRegistryWhileLoaded) {
    const auto query = orvo::FindDialogTemplate(IDD_EXT_ORDER_QUERY);
    ASSERT_TRUE(query.has_value());
    EXPECT_EQ(query->caption, GBK("扩展委托查询"));
    EXPECT_EQ(query->cx, 499);
    EXPECT_EQ(query->cy, 386);
    const auto conditions = orvo::FindDialogTemplate(IDD_QUERY_CONDITION);
    ASSERT_TRUE(conditions.has_value());
    EXPECT_EQ(conditions->caption, GBK("查询条件"));
}

TEST(ModuleLifetime, UnloadEmptiesStateAndRegistryAndReloadStartsFresh) {
    const int ownersBefore = orvo::RegisteredTemplateOwners();
    {
        LoadedModule first;
        ASSERT_TRUE(first.ok()) << first.error();
        EXPECT_EQ(orvo::RegisteredTemplateOwners(), ownersBefore + 1);
        first.setParam(6, "changed");
    }
    EXPECT_EQ(orvo::RegisteredTemplateOwners(), ownersBefore);
    EXPECT_FALSE(orvo::FindDialogTemplate(IDD_EXT_ORDER_QUERY).has_value());

    LoadedModule second;
    ASSERT_TRUE(second.ok()) << second.error();
    EXPECT_EQ(second.getParam(8), "893"); // not "893,893": the list was emptied at unload
    EXPECT_EQ(second.getParam(3), GBK("扩展委托查询"));
}

} // namespace
