// The window program's command line: the product a file manager hands over, the answers given
// without a window, and the toolkit's own options left alone.
#include <gtest/gtest.h>

#include "app/WindowCommandLine.h"

using quelmar::ParseWindowArguments;
using quelmar::WindowArguments;

TEST(WindowCommandLine, ProductAndToolkitOptions) {
  EXPECT_FALSE(ParseWindowArguments({}).exitStatus);
  EXPECT_TRUE(ParseWindowArguments({}).product.empty());
  const WindowArguments given =
      ParseWindowArguments({"-style", "fusion", "/data/M1CE.IMG", "-reverse"});
  EXPECT_FALSE(given.exitStatus);
  EXPECT_EQ(given.product, "/data/M1CE.IMG");
  // "-platform offscreen" takes its value with it: the value is not a product.
  EXPECT_TRUE(ParseWindowArguments({"-platform", "offscreen"}).product.empty());
}

TEST(WindowCommandLine, HelpVersionAndMistakes) {
  const WindowArguments help = ParseWindowArguments({"M1CE.IMG", "--help"});
  ASSERT_TRUE(help.exitStatus);
  EXPECT_EQ(*help.exitStatus, 0);
  EXPECT_EQ(help.text.rfind("Usage: quelmar [FILE.IMG]\n", 0), 0u);
  EXPECT_NE(help.text.find("$XDG_DATA_HOME/quelmar/"), std::string::npos);
  const WindowArguments version = ParseWindowArguments({"--version"});
  EXPECT_EQ(version.text, std::string("quelmar (Quelmar v") + QUELMAR_VERSION + ")\n");
  const WindowArguments unknown = ParseWindowArguments({"--frobnicate"});
  ASSERT_TRUE(unknown.exitStatus);
  EXPECT_EQ(*unknown.exitStatus, 2);
  EXPECT_NE(unknown.text.find("\"--frobnicate\""), std::string::npos);
  const WindowArguments two = ParseWindowArguments({"a.IMG", "b.IMG"});
  ASSERT_TRUE(two.exitStatus);
  EXPECT_EQ(*two.exitStatus, 2);
}
