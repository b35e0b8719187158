#include <gtest/gtest.h>

#include "harnolfees/script.hpp"

namespace harnolfees::driver {
namespace {

std::vector<std::string> Words(std::string_view line) {
  LineWords w = SplitScriptLine(line);
  EXPECT_EQ(w.error, "") << line;
  return w.words;
}

std::string SplitError(std::string_view line) { return SplitScriptLine(line).error; }

TEST(ScriptWords, BlanksCommentsAndPlainWords) {
  EXPECT_TRUE(Words("").empty());
  EXPECT_TRUE(Words("   \t ").empty());
  EXPECT_TRUE(Words("# tab 3").empty());
  EXPECT_TRUE(Words("   # indented comment").empty());
  EXPECT_EQ(Words("  tab\t 3  "), (std::vector<std::string>{"tab", "3"}));
  // '#' later on a line and backslashes outside quotes are ordinary characters.
  EXPECT_EQ(Words("populate a#b c\\n"), (std::vector<std::string>{"populate", "a#b", "c\\n"}));
}

TEST(ScriptWords, QuotedWordsAndEscapes) {
  EXPECT_EQ(Words(R"(type 1 "two words")"), (std::vector<std::string>{"type", "1", "two words"}));
  EXPECT_EQ(Words(R"(x "")"), (std::vector<std::string>{"x", ""}));
  EXPECT_EQ(Words(R"(x "a\"b\\c")")[1], "a\"b\\c");
  EXPECT_EQ(Words(R"(x "\n\r\t")")[1], "\n\r\t");
  EXPECT_EQ(Words(R"(x "\x41\x7e\xff\x00z")")[1], std::string("A~\xff\0z", 5));
  EXPECT_EQ(Words(R"(x "# not a comment")")[1], "# not a comment");
}

TEST(ScriptWords, MalformedQuotesAreErrors) {
  EXPECT_NE(SplitError(R"(x "open)").find("no closing quote"), std::string::npos);
  EXPECT_NE(SplitError(R"(x "ends in backslash\)").find("no closing quote"), std::string::npos);
  EXPECT_NE(SplitError(R"(x "\q")").find("unknown escape"), std::string::npos);
  EXPECT_NE(SplitError(R"(x "\x4")").find("two hexadecimal digits"), std::string::npos);
  EXPECT_NE(SplitError(R"(x "\xg0")").find("two hexadecimal digits"), std::string::npos);
  EXPECT_NE(SplitError(R"(x "a"b)").find("followed by a blank"), std::string::npos);
  EXPECT_NE(SplitError(R"(x a"b")").find("only open a word"), std::string::npos);
}

TEST(ScriptNumbers, DecimalIntegersOnly) {
  EXPECT_EQ(ParseScriptNumber("0"), 0);
  EXPECT_EQ(ParseScriptNumber("-12"), -12);
  EXPECT_EQ(ParseScriptNumber("007"), 7);
  for (const char* bad : {"", "-", "+3", "1.5", "0x10", "12a", " 1", "99999999999999999999"}) {
    EXPECT_FALSE(ParseScriptNumber(bad).has_value()) << bad;
  }
}

ParsedLine Parse(std::string_view line) { return ParseScriptLine(line); }

Command Ok(std::string_view line) {
  ParsedLine p = Parse(line);
  EXPECT_EQ(p.status, ParsedLine::Status::kCommand) << line << ": " << p.error;
  return p.command;
}

std::string Error(std::string_view line) {
  ParsedLine p = Parse(line);
  EXPECT_EQ(p.status, ParsedLine::Status::kError) << line;
  return p.error;
}

TEST(ScriptCommands, ArgumentsAreReadIntoTheCommand) {
  Command load = Ok(R"(load "http://127.0.0.1:8080/" 12 03/15/2004)");
  EXPECT_EQ(load.kind, CommandKind::kLoad);
  EXPECT_EQ(load.number, 12);
  EXPECT_EQ(load.texts, (std::vector<std::string>{"http://127.0.0.1:8080/", "03/15/2004"}));
  EXPECT_TRUE(Ok("viewmode true").flag);
  EXPECT_FALSE(Ok("viewmode false").flag);
  EXPECT_TRUE(Ok("answer yes").flag);
  EXPECT_EQ(Ok("clubid -5").number, -5);
  Command cell = Ok("cell 3");
  EXPECT_EQ(cell.number, 3);
  EXPECT_EQ(cell.number2, 0);
  EXPECT_EQ(Ok("cell 3 2").number2, 2);
  Command select = Ok("select cboAPRType -1");
  EXPECT_EQ(select.name, "cboAPRType");
  EXPECT_EQ(select.number, -1);
  EXPECT_EQ(Ok(R"(stringparameter "|" "~" "^" "")").texts.size(), 4u);
  EXPECT_EQ(Ok(R"(type 7 "7.25")").texts[0], "7.25");
  EXPECT_EQ(Ok("check chkDT 1").number, 1);
  EXPECT_EQ(Ok("date 2 2004-03-15").texts[0], "2004-03-15");
  EXPECT_EQ(Parse("  # nothing").status, ParsedLine::Status::kEmpty);
}

TEST(ScriptCommands, UnknownNamesIndexesAndBadArgumentsAreErrors) {
  EXPECT_EQ(Error("frobnicate"), "unknown command \"frobnicate\"");
  EXPECT_EQ(Error("Dump"), "unknown command \"Dump\"");
  EXPECT_NE(Error("dump now").find("too many arguments"), std::string::npos);
  EXPECT_NE(Error("load http://x/ 1").find("usage: load URL CENTER SERVERDATE"), std::string::npos);
  EXPECT_EQ(Error("tab 15"), "there is no tab 15 (1 to 14)");
  EXPECT_NE(Error("tab 0").find("there is no tab 0"), std::string::npos);
  EXPECT_NE(Error("tab three").find("must be a decimal number"), std::string::npos);
  EXPECT_NE(Error("type 0 x").find("there is no txtField 0"), std::string::npos);
  EXPECT_NE(Error("type 8 x").find("there is no txtField 8"), std::string::npos);
  EXPECT_NE(Error("date 3 2004-01-01").find("there is no DTPicker1 3"), std::string::npos);
  EXPECT_NE(Error("click cmdSave").find("there is no button"), std::string::npos);
  EXPECT_NE(Error("select cboColour 1").find("there is no combo box"), std::string::npos);
  EXPECT_NE(Error("select cboTerm -2").find("there is no list item -2"), std::string::npos);
  EXPECT_NE(Error("check chkTravel 2").find("out of range"), std::string::npos);
  EXPECT_NE(Error("check chkOther 1").find("there is no check box"), std::string::npos);
  EXPECT_NE(Error("viewmode yes").find("neither true nor false"), std::string::npos);
  EXPECT_NE(Error("answer maybe").find("neither yes nor no"), std::string::npos);
  EXPECT_NE(Error("clubid 32768").find("out of range"), std::string::npos);
  EXPECT_EQ(Ok("clubid -32768").number, -32768);
}

TEST(Script, ParsingStopsAtTheFirstLineInErrorAndKeepsWhatCameBefore) {
  ParsedScript s = ParseScript("dump\r\n\n# note\ntab 2\ntab 99\ndump\n");
  ASSERT_EQ(s.commands.size(), 2u);
  EXPECT_EQ(s.commands[0].number, 1);
  EXPECT_EQ(s.commands[1].number, 4);
  EXPECT_EQ(s.commands[1].command.kind, CommandKind::kTab);
  EXPECT_EQ(s.errorLine, 5);
  EXPECT_EQ(ParseScript("").errorLine, 0);
  EXPECT_EQ(ParseScript("dump").commands.size(), 1u);
}

}  // namespace
}  // namespace harnolfees::driver
