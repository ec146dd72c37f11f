#include "util/WinOps.h"

#include <gtest/gtest.h>

#include <tuple>

#include "support/ScriptedPort.h"

namespace quelmar {
namespace {

using testing::ScriptedPort;

TEST(TextRoutines, TrimBlanksRemovesOnlyBlanksAndTabs) {
  EXPECT_EQ(TrimBlanks("  \t "), "");
  EXPECT_EQ(TrimBlanks("abc\r"), "abc\r");
  EXPECT_EQ(TrimBlanks("\t a b \t"), "a b");
  EXPECT_EQ(TrimBlanks(std::string("\x01x ", 3)), std::string("\x01x", 2));
}

TEST(TextRoutines, SubstringFromToPositions) {
  const std::tuple<const char*, int, int, const char*> cases[] = {
      {"abcde", 4, 10, "de"}, {"abcde", 6, 6, ""},  {"abcde", 3, 2, ""},  {"abcde", 1, 5, "abcde"},
      {"abcde", 0, 1, "ab"},  {"M", 0, 1, "M"},     {"", -1, 0, ""},      {"abcde", -3, 1, "abcde"},
      {"abcde", 5, 5, "e"},   {"abcde", 2, 3, "bc"},
  };
  for (const auto& [text, first, last, expected] : cases) {
    EXPECT_EQ(SubstringFromTo(text, first, last), expected) << text << " " << first << ".." << last;
  }
}

TEST(TextRoutines, RemoveSpacesKeepsTabs) {
  std::string s = " 1 0\t2 4 ";
  RemoveSpaces(s);
  EXPECT_EQ(s, "10\t24");
}

TEST(TextRoutines, SplitAtDelimiter) {
  struct Case {
    const char* text;
    const char* delimiter;
    const char* before;
    const char* rest;
  };
  const Case cases[] = {
      {"  KEY = VALUE  ", "=", "KEY ", " VALUE"},
      {"no delimiter here ", "=", "no delimiter here", ""},
      {"=starts", "=", "", "starts"},
      {" \t=x", "=", "", "x"},
      {"A = B = C", "=", "A ", " B = C"},
      {"321 <nm>, 360 <nm>", " <nm>, ", "321", "360 <nm>"},
      {"abc", "", "abc", ""},
      {"", "=", "", ""},
  };
  for (const Case& c : cases) {
    std::string text = c.text, before = "junk";
    SplitAtDelimiter(text, c.delimiter, before);
    EXPECT_EQ(before, c.before) << c.text;
    EXPECT_EQ(text, c.rest) << c.text;
  }
}

TEST(TextRoutines, ReplaceAllSubstringsAndCsvQuoted) {
  EXPECT_EQ(ReplaceAllSubstrings("\"\"", "\"", "\"\""), "\"\"\"\"");
  EXPECT_EQ(ReplaceAllSubstrings("x", "x", "yz"), "yz");
  EXPECT_EQ(ReplaceAllSubstrings("aaaa", "aa", "a"), "aa");  // no overlap, no re-scan
  EXPECT_EQ(ReplaceAllSubstrings("aaa", "aa", "b"), "ba");
  EXPECT_EQ(ReplaceAllSubstrings("abc", "", "x"), "abc");
  EXPECT_EQ(ReplaceAllSubstrings("", "a", "x"), "");
  EXPECT_EQ(ReplaceAllSubstrings("xabxab", "ab", "ab!"), "xab!xab!");

  EXPECT_EQ(CsvQuoted("\""), "\"\"\"\"");
  EXPECT_EQ(CsvQuoted("C:\\pics\\a.bmp"), "C:\\pics\\a.bmp");
  EXPECT_EQ(CsvQuoted("a,b"), "\"a,b\"");
  EXPECT_EQ(CsvQuoted("say \"hi\", ok"), "\"say \"\"hi\"\", ok\"");
  EXPECT_EQ(CsvQuoted(""), "");
}

TEST(TextRoutines, IntToStrWidth) {
  EXPECT_EQ(IntToStrWidth(-5, 4), "  -5");
  EXPECT_EQ(IntToStrWidth(12345, 2), "12345");
  EXPECT_EQ(IntToStrWidth(7, 0), "7");
  EXPECT_EQ(IntToStrWidth(1, 300).size(), 255u);
}

TEST(StringToInteger, AcceptedForms) {
  const std::pair<const char*, int32_t> cases[] = {
      {"1 024", 1024},       {"-2147483648", INT32_MIN}, {"2147483647", INT32_MAX},
      {"$1F", 31},           {"0x1f", 31},               {"X10", 16},
      {"$FFFFFFFF", -1},     {"0X80000000", INT32_MIN},  {"007", 7},
      {"+5", 5},             {" - 12 ", -12},            {"0", 0},
  };
  for (const auto& [text, value] : cases) {
    ScriptedPort port;
    EXPECT_EQ(StringToInteger(text, port), value) << text;
    EXPECT_TRUE(port.Calls().empty()) << text;
  }
}

TEST(StringToInteger, FailuresReportTheirPosition) {
  const std::pair<const char*, const char*> cases[] = {
      {"", "Unable to convert string \"\" to integer, ErrorCode = 1"},
      {"12a", "Unable to convert string \"12a\" to integer, ErrorCode = 3"},
      {"2147483648", "Unable to convert string \"2147483648\" to integer, ErrorCode = 11"},
      {"-2147483649", "Unable to convert string \"-2147483649\" to integer, ErrorCode = 12"},
      {"21474836470", "Unable to convert string \"21474836470\" to integer, ErrorCode = 11"},
      {"99999999999", "Unable to convert string \"99999999999\" to integer, ErrorCode = 10"},
      {"-", "Unable to convert string \"-\" to integer, ErrorCode = 2"},
      {"$", "Unable to convert string \"$\" to integer, ErrorCode = 2"},
      {"0x", "Unable to convert string \"0x\" to integer, ErrorCode = 3"},
      {"$100000000", "Unable to convert string \"$100000000\" to integer, ErrorCode = 10"},
      {"-$1", "Unable to convert string \"-$1\" to integer, ErrorCode = 2"},
      {"1\t2", "Unable to convert string \"1\t2\" to integer, ErrorCode = 2"},
      {"1 2 x", "Unable to convert string \"12x\" to integer, ErrorCode = 3"},
      {"8 <bits>", "Unable to convert string \"8<bits>\" to integer, ErrorCode = 2"},
  };
  for (const auto& [text, message] : cases) {
    ScriptedPort port;
    EXPECT_EQ(StringToInteger(text, port), 0) << text;
    ASSERT_EQ(port.SeriousErrors().size(), 1u) << text;
    EXPECT_EQ(port.SeriousErrors()[0],
              std::string("Program has encountered a serious error in Unit Win_Ops\r") + message);
  }
}

TEST(ReportSeriousError, WithoutUnitName) {
  ScriptedPort port;
  ReportSeriousError("boom", "", port);
  ASSERT_EQ(port.SeriousErrors().size(), 1u);
  EXPECT_EQ(port.SeriousErrors()[0], "Program has encountered a serious error\rboom");
}

}  // namespace
}  // namespace quelmar
