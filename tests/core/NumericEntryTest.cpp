#include "controls/NumericEntry.h"

#include <gtest/gtest.h>

#include <clocale>
#include <string>
#include <vector>

#include "support/ScriptedPort.h"
#include "util/Errors.h"

namespace quelmar {
namespace {

using Messages = std::vector<std::string>;

class NumericEntryTest : public ::testing::Test {
 protected:
  void Make(TInputType type, const char* min = nullptr, const char* max = nullptr) {
    entry.SetPort(&port);
    entry.SetInputType(type);
    if (min) entry.SetInputMin(min);
    if (max) entry.SetInputMax(max);
    port.Clear();
  }
  testing::ScriptedPort port;
  NumericEntry entry;
};

TEST_F(NumericEntryTest, IntegerEntries) {
  struct Case {
    const char* text;
    int32_t value;
    int errorPosition;  // 0: accepted silently
  };
  const Case cases[] = {
      {"$1F", 31, 0}, {"-2147483648", INT32_MIN, 0}, {"2147483648", 0, 11}, {"12a", 0, 3},
      {"", 0, 1},
  };
  for (const Case& c : cases) {
    Make(TInputType::tInteger);
    entry.SetText(c.text);
    EXPECT_EQ(entry.GetIntegerValue(), c.value) << c.text;
    const std::string quoted = "\"" + std::string(c.text) + "\"";
    const Messages expected =
        c.errorPosition == 0 ? Messages{}
                             : Messages{quoted + " is not a valid integer; error at position " +
                                            std::to_string(c.errorPosition),
                                        "Substituting \"0\" for " + quoted + " (invalid entry)"};
    EXPECT_EQ(port.Messages(), expected) << c.text;
  }
}

TEST_F(NumericEntryTest, TrimmedTextIsWrittenBackBeforeValidatedIsSet) {
  Make(TInputType::tInteger);
  std::vector<std::string> written;
  entry.OnTextWrittenBack = [&](const std::string& t) {
    written.push_back(t);
    entry.SetText(t);  // the box's change notice comes back here
  };
  entry.SetText(" \t 12 ");
  EXPECT_EQ(entry.GetIntegerValue(), 12);
  EXPECT_EQ(written, (std::vector<std::string>{"12"}));
  EXPECT_EQ(entry.Text(), "12");
  EXPECT_TRUE(entry.Validated());
  EXPECT_TRUE(port.Messages().empty());
}

TEST_F(NumericEntryTest, ExtendedEntriesAcceptCommaAndRejectOverflow) {
  Make(TInputType::tExtended);
  entry.SetText("2,15");
  EXPECT_EQ(entry.GetExtendedValue(), 2.15L);
  EXPECT_EQ(entry.Text(), "2,15");
  EXPECT_TRUE(port.Messages().empty());

  entry.SetText("1,2,3");
  EXPECT_EQ(entry.GetExtendedValue(), 0);
  entry.SetText("1e5000");
  EXPECT_EQ(entry.GetExtendedValue(), 0);
  EXPECT_EQ(port.Messages(), (Messages{"\"1,2,3\" is not a valid Extended; error at position 4",
                                       "Substituting \"0\" for \"1,2,3\" (invalid entry)",
                                       "\"1e5000\" is not a valid Extended; error at position 7",
                                       "Substituting \"0\" for \"1e5000\" (invalid entry)"}));
}

TEST_F(NumericEntryTest, VerticalTravelSubstitutesNearerLimit) {
  struct Case {
    const char* text;
    Real value;
    Messages messages;
  };
  const Case cases[] = {
      {"20",
       14,
       {"Entry must be between 0 and 14", "Substituting \"14\" for \"20\" (invalid entry)"}},
      {"-1",
       0,
       {"Entry must be between 0 and 14", "Substituting \"0\" for \"-1\" (invalid entry)"}},
      {"14", 14, {}},
  };
  for (const Case& c : cases) {
    Make(TInputType::tExtended, "0", "14");
    entry.SetText(c.text);
    EXPECT_EQ(entry.GetExtendedValue(), c.value) << c.text;
    EXPECT_EQ(port.Messages(), c.messages) << c.text;
  }
  // Unchanged text: the range message is not repeated, the substitute message is.
  port.Clear();
  entry.SetText("20");
  entry.GetExtendedValue();
  entry.GetExtendedValue();
  EXPECT_EQ(port.Messages().size(), 3u);
  EXPECT_EQ(port.Messages()[2], "Substituting \"14\" for \"20\" (invalid entry)");
}

TEST_F(NumericEntryTest, LimitChangesApplyOnlyAfterTheTextChanges) {
  Make(TInputType::tInteger, "1", "7");
  entry.SetText("5");
  EXPECT_EQ(entry.GetIntegerValue(), 5);
  entry.SetInputMax("3");
  EXPECT_TRUE(entry.Validated());
  EXPECT_EQ(entry.GetIntegerValue(), 5);
  EXPECT_TRUE(port.Messages().empty());
  entry.SetText("5");
  EXPECT_EQ(entry.GetIntegerValue(), 3);
  EXPECT_EQ(port.Messages().front(), "Entry must be between 1 and 3");
}

TEST_F(NumericEntryTest, RangeTestNeedsBothLimitsValid) {
  Make(TInputType::tInteger, "1");  // band field before a load
  for (const char* text : {"0", "-5", "99"}) {
    entry.SetText(text);
    entry.GetIntegerValue();
    EXPECT_TRUE(entry.EntryValid()) << text;
  }
  entry.SetInputMax("7");
  entry.SetInputMin("one");
  EXPECT_EQ(port.Messages(), (Messages{"The MinString \"one\" is not a valid number"}));
  EXPECT_FALSE(entry.MinValid());
  EXPECT_EQ(entry.InputMin(), "1");  // keeps its last valid text
  entry.SetText("99");
  EXPECT_EQ(entry.GetIntegerValue(), 99);
}

TEST_F(NumericEntryTest, IntegerLimitsRoundedOrTooLarge) {
  Make(TInputType::tInteger, "0.5", "2.5");  // halves go to the even neighbour
  entry.SetText("7");
  EXPECT_EQ(entry.GetIntegerValue(), 2);
  EXPECT_EQ(port.Messages().front(), "Entry must be between 0 and 2");

  Make(TInputType::tInteger, "0", "1e5000");  // infinite upper limit still works
  entry.SetText("-3");
  EXPECT_EQ(entry.GetIntegerValue(), 0);
  EXPECT_EQ(port.Messages().front(), "Entry must be between 0 and inf");

  Make(TInputType::tInteger, "1e10", "1e11");  // a substitute that cannot be had
  entry.SetText("5");
  EXPECT_THROW(entry.GetIntegerValue(), RangeError);
  EXPECT_FALSE(entry.Validated());
}

TEST_F(NumericEntryTest, WrongKindAndUnknownTypeRequests) {
  Make(TInputType::tExtended);
  entry.SetText("x");
  EXPECT_EQ(entry.GetIntegerValue(), 0);
  const std::string notInt = "Requesting integer value from non-integer control";
  EXPECT_EQ(port.Messages(), (Messages{"\"x\" is not a valid Extended; error at position 1", notInt,
                                       "Substituting \"0\" for \"x\" (invalid entry)", notInt}));
  Make(TInputType::tInteger);
  entry.SetText("4");
  EXPECT_EQ(entry.GetExtendedValue(), 0);
  EXPECT_EQ(port.Messages(), (Messages{"Requesting extended value from non-extended control"}));

  Make(TInputType::tExtended);
  entry.SetRawInputType(7);
  entry.SetText("4");
  EXPECT_EQ(entry.GetExtendedValue(), 0);
  EXPECT_EQ(port.Messages(), (Messages{"Attempting to validate unknown type",
                                       "Requesting extended value from non-extended control",
                                       "Substituting \"0\" for \"4\" (invalid entry)"}));
}

TEST_F(NumericEntryTest, TextsUseThePeriodWhateverTheLocale) {
  const std::string saved = std::setlocale(LC_ALL, nullptr);
  if (!std::setlocale(LC_ALL, "de_DE.UTF-8")) GTEST_SKIP() << "no comma-decimal locale";
  NumericEntry created;
  EXPECT_STREQ(std::localeconv()->decimal_point, ".");  // creation set the number format
  std::setlocale(LC_ALL, "de_DE.UTF-8");                // a toolkit may set it back later
  Make(TInputType::tExtended, "0.5", "1.25");
  entry.SetText("2,5");
  EXPECT_EQ(entry.GetExtendedValue(), 1.25L);
  std::setlocale(LC_ALL, saved.c_str());
  EXPECT_EQ(port.Messages(), (Messages{"Entry must be between 0.5 and 1.25",
                                       "Substituting \"1.25\" for \"2,5\" (invalid entry)"}));
}

}  // namespace
}  // namespace quelmar
