#include <gtest/gtest.h>

#include "script.hpp"

namespace harnolfees::driver {
namespace {

using Words = std::vector<std::string>;

Words Split(std::string_view line) {
  LineWords w = SplitScriptLine(line);
  EXPECT_EQ(w.error, "") << line;
  return w.words;
}

TEST(ScriptWords, BlanksCommentsQuotesAndEscapes) {
  EXPECT_TRUE(Split("").empty());
  EXPECT_TRUE(Split("   \t ").empty());
  EXPECT_TRUE(Split("   # tab 3").empty());
  EXPECT_EQ(Split("  tab\t 3  "), (Words{"tab", "3"}));
  // '#' after the start and backslashes outside quotes are ordinary characters.
  EXPECT_EQ(Split("populate a#b c\\n"), (Words{"populate", "a#b", "c\\n"}));
  EXPECT_EQ(Split(R"(type 1 "two words" "")"), (Words{"type", "1", "two words", ""}));
  EXPECT_EQ(Split(R"(x "a\"b\\c\n\r\t")")[1], "a\"b\\c\n\r\t");
  EXPECT_EQ(Split(R"(x "\x41\x7e\xff\x00z")")[1], std::string("A~\xff\0z", 5));
}

TEST(ScriptWords, MalformedQuotesAreErrors) {
  for (const auto& [line, message] : std::vector<std::pair<const char*, const char*>>{
           {R"(x "open)", "no closing quote"},
           {R"(x "ends in backslash\)", "no closing quote"},
           {R"(x "\q")", "unknown escape"},
           {R"(x "\x4")", "two hexadecimal digits"},
           {R"(x "\xg0")", "two hexadecimal digits"},
           {R"(x "a"b)", "followed by a blank"},
           {R"(x a"b")", "only open a word"},
       }) {
    EXPECT_NE(SplitScriptLine(line).error.find(message), std::string::npos) << line;
    EXPECT_TRUE(SplitScriptLine(line).words.empty());
  }
}

TEST(ScriptNumbers, DecimalIntegersOnly) {
  EXPECT_EQ(ParseScriptNumber("-12"), -12);
  EXPECT_EQ(ParseScriptNumber("007"), 7);
  for (const char* bad : {"", "-", "+3", "1.5", "0x10", "12a", " 1", "99999999999999999999"}) {
    EXPECT_FALSE(ParseScriptNumber(bad).has_value()) << bad;
  }
}

Command Ok(std::string_view line) {
  ParsedLine p = ParseScriptLine(line);
  EXPECT_EQ(p.status, ParsedLine::Status::kCommand) << line << ": " << p.error;
  return p.command;
}

// What the scenarios' scripts do pins the reading of most arguments; here the
// extremes they do not use.
TEST(ScriptCommands, ArgumentsAreReadIntoTheCommand) {
  EXPECT_EQ(Ok("clubid -32768").number, -32768);
  EXPECT_EQ(Ok("cell 3").number2, 0);
  EXPECT_EQ(Ok("cell 3 2").number2, 2);
  Command select = Ok("select cboAPRType -1");
  EXPECT_EQ(select.name, "cboAPRType");
  EXPECT_EQ(select.number, -1);
}

TEST(ScriptCommands, UnknownNamesIndexesAndBadArgumentsAreErrors) {
  for (const auto& [line, message] : std::vector<std::pair<const char*, const char*>>{
           {"frobnicate", "unknown command \"frobnicate\""},
           {"Dump", "unknown command \"Dump\""},
           {"dump now", "too many arguments"},
           {"load http://x/ 1", "too few arguments; usage: load URL CENTER SERVERDATE"},
           {"tab 15", "there is no tab 15 (1 to 14)"},
           {"tab 0", "there is no tab 0"},
           {"tab three", "must be a decimal number"},
           {"type 8 x", "there is no txtField 8"},
           {"date 3 2004-01-01", "there is no DTPicker1 3"},
           {"click cmdSave", "there is no button"},
           {"select cboColour 1", "there is no combo box"},
           {"select cboTerm -2", "there is no list item -2"},
           {"check chkTravel 2", "out of range"},
           {"check chkOther 1", "there is no check box"},
           {"viewmode yes", "neither true nor false"},
           {"answer maybe", "neither yes nor no"},
           {"clubid 32768", "out of range"},
       }) {
    ParsedLine p = ParseScriptLine(line);
    EXPECT_EQ(p.status, ParsedLine::Status::kError) << line;
    EXPECT_NE(p.error.find(message), std::string::npos) << line << ": " << p.error;
  }
}

TEST(Script, ParsingStopsAtTheFirstLineInErrorAndKeepsWhatCameBefore) {
  ParsedScript s = ParseScript("dump\r\n\n# note\ntab 2\ntab 99\ndump\n");
  ASSERT_EQ(s.commands.size(), 2u);
  EXPECT_EQ(s.commands[0].number, 1);
  EXPECT_EQ(s.commands[1].number, 4);
  EXPECT_EQ(s.errorLine, 5);
  EXPECT_EQ(ParseScript("").errorLine, 0);
  EXPECT_EQ(ParseScript("dump").commands.size(), 1u);
}

}  // namespace
}  // namespace harnolfees::driver
