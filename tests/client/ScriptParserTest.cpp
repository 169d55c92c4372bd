// The script's lines: every command's shape, TEXT arguments with their quotes, and malformed lines
// reported with their line number.
#include "client/automation/ScriptParser.h"

#include <gtest/gtest.h>

#include <sstream>

namespace {

ScriptCommand parseOne(const std::string& line) {
    std::optional<ScriptError> error;
    auto command = ParseScriptLine(line, 7, error);
    EXPECT_FALSE(error) << line << ": " << (error ? error->reason : "");
    return command.value_or(ScriptCommand{});
}

std::string errorOf(const std::string& line) {
    std::optional<ScriptError> error;
    EXPECT_FALSE(ParseScriptLine(line, 3, error)) << line;
    EXPECT_TRUE(error) << line;
    return error ? error->reason : "";
}

using Args = std::vector<std::string>;

TEST(ScriptParserTest, EveryCommandWithItsArguments) {
    const std::vector<std::pair<std::string, Args>> cases{
        {"open 893", {"893"}},
        {"dump", {}},
        {"dump out/state.json", {"out/state.json"}},
        {"shot step 1.png", {"step 1.png"}},
        {"key F5", {"F5"}},
        {"key Enter L2", {"Enter", "L2"}},
        {"key x 9008", {"x", "9008"}},
        {"type 9008 0101 23", {"9008", "0101 23"}},
        {"clear 9008", {"9008"}},
        {"focus L0", {"L0"}},
        {"click 9014", {"9014"}},
        {"pick 9009 SHFE", {"9009", "SHFE"}},
        {"pick 9012 全部 有效", {"9012", "全部 有效"}},
        {"check 9006 0101 1", {"9006", "0101", "1"}},
        {"date 9013 2026-12-07", {"9013", "2026-12-07"}},
        {"row L3 12", {"L3", "12"}},
        {"dblclick 9002 0", {"9002", "0"}},
        {"tab 5", {"5"}},
        {"header L0 3", {"L0", "3"}},
        {"export L1 out/rules 1.xlsx", {"L1", "out/rules 1.xlsx"}},
        {"key Ctrl+F", {"Ctrl+F"}},
        {"type filter 0101", {"filter", "0101"}},
        {"drag 9004 -120", {"9004", "-120"}},
        {"resize 1024 768", {"1024", "768"}},
        {"maximize", {}},
        {"minimize", {}},
        {"restore", {}},
        {"ok", {}},
        {"cancel", {}},
        {"wait 250", {"250"}},
    };
    for (const auto& [line, args] : cases) {
        const ScriptCommand command = parseOne(line);
        EXPECT_EQ(command.name, line.substr(0, line.find(' '))) << line;
        EXPECT_EQ(command.args, args) << line;
        EXPECT_EQ(command.line, 7);
    }
}

TEST(ScriptParserTest, QuotedTextKeepsItsBlanks) {
    EXPECT_EQ(parseOne("type 9008 \" 123 \"").args, (Args{"9008", " 123 "}));
    EXPECT_EQ(parseOne("  type   9008   abc   ").args, (Args{"9008", "abc"}));
    EXPECT_EQ(parseOne("key \" \"").args, (Args{" "}));
    EXPECT_EQ(parseOne("key 中").args, (Args{"中"}));
}

TEST(ScriptParserTest, MalformedLinesSayWhy) {
    EXPECT_EQ(errorOf("opne 893"), "unknown command 'opne'");
    EXPECT_EQ(errorOf("open"), "open: missing a number");
    EXPECT_EQ(errorOf("open 893 894"), "open: unexpected '894'");
    EXPECT_NE(errorOf("key F13").find("is not a key"), std::string::npos);
    EXPECT_NE(errorOf("key ab").find("is not a key"), std::string::npos);
    EXPECT_NE(errorOf("row L6 1").find("'L6' is not"), std::string::npos);
    EXPECT_NE(errorOf("row L1 -1").find("'-1' is not a number"), std::string::npos);
    EXPECT_NE(errorOf("check 9006 0101 2").find("0 or 1"), std::string::npos);
    EXPECT_NE(errorOf("date 9013 2026.12.07").find("YYYY-MM-DD"), std::string::npos);
    EXPECT_NE(errorOf("date 9013 2026-13-01").find("YYYY-MM-DD"), std::string::npos);
    EXPECT_NE(errorOf("drag 9004 down").find("signed number"), std::string::npos);
    EXPECT_NE(errorOf("shot").find("missing a text"), std::string::npos);
    EXPECT_NE(errorOf("type 9008").find("missing a text"), std::string::npos);
    EXPECT_NE(errorOf("ok now").find("unexpected"), std::string::npos);
}

TEST(ScriptParserTest, AScriptSkipsCommentsAndStopsAtTheFirstBadLine) {
    std::istringstream good("# the tour\n\nopen 893\n   # indented comment\nok\n");
    std::vector<ScriptCommand> commands;
    ScriptError error;
    ASSERT_TRUE(ParseScript(good, commands, error));
    ASSERT_EQ(commands.size(), 2u);
    EXPECT_EQ(commands[0].line, 3);
    EXPECT_EQ(commands[1].line, 5);

    std::istringstream bad("open 893\nok\nclick\nok\n");
    commands.clear();
    EXPECT_FALSE(ParseScript(bad, commands, error));
    EXPECT_EQ(error.line, 3);
    EXPECT_EQ(error.reason, "click: missing a control ID or L0..L5");
}

} // namespace
