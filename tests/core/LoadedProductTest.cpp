#include "product/LoadedProduct.h"

#include <gtest/gtest.h>

namespace quelmar {
namespace {

TEST(LabelKeywordValue, FindsTheFirstWholeKey) {
  const std::vector<std::string> label = {
      "PDS_VERSION_ID = PDS3",
      "   LINES\t=   1000   ",
      "LINE_SAMPLES = 704",
      "lines = 5",
      "A = B = C",
      "PRODUCT_ID = \"M1234CE\"",
      "EMPTY =",
      "EMPTY = later",
      "ONLYKEY",
      std::string("\x01", 1) + "CTRL\x02 = \x1fvalue\x7f\x03",
      "END",
  };
  EXPECT_EQ(LabelKeywordValue(label, "LINES"), "1000");
  EXPECT_EQ(LabelKeywordValue(label, "lines"), "5");
  EXPECT_EQ(LabelKeywordValue(label, "LINE"), "");
  EXPECT_EQ(LabelKeywordValue(label, "A"), "B = C");
  EXPECT_EQ(LabelKeywordValue(label, "PRODUCT_ID"), "\"M1234CE\"");
  EXPECT_EQ(LabelKeywordValue(label, "EMPTY"), "");
  EXPECT_EQ(LabelKeywordValue(label, "ONLYKEY"), "");
  EXPECT_EQ(LabelKeywordValue(label, "CTRL"), "value\x7f");
  EXPECT_EQ(LabelKeywordValue(label, "MISSING"), "");
  EXPECT_EQ(LabelKeywordValue({}, "LINES"), "");
}

TEST(LoadedProduct, StartsEmptyAndHoldsRowsInOneBlock) {
  LoadedProduct p;
  EXPECT_FALSE(p.HasImage());
  EXPECT_EQ(p.BandCount, 0);
  p.Rows.Allocate(3, 5);
  EXPECT_TRUE(p.HasImage());
  EXPECT_EQ(p.Rows.Row(1) - p.Rows.Row(0), 5);
  p.Rows.Clear();
  EXPECT_FALSE(p.HasImage());
}

}  // namespace
}  // namespace quelmar
