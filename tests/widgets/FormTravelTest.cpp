// The Find travel button: on a product whose framelets overlap by a known travel it writes the
// measured travels into the fields, says so in the message area and stacks; on one that cannot
// tell it says why and leaves the fields alone.
#include <cmath>

#include "support/TestFiles.h"
#include "widgets/FormFixture.h"

using quelmar::testing::FormTest;
using quelmar::testing::MakeProduct;
using quelmar::testing::ProductBytes;
using quelmar::testing::SyntheticProduct;
using quelmar::testing::TempDir;
using quelmar::testing::WriteFileBytes;

namespace {

double Ground(double x, double y) {
  return 120 + 40 * std::sin(0.21 * x + 0.13 * y) + 25 * std::cos(0.17 * y - 0.09 * x + 1.0) +
         15 * std::sin(0.43 * x + 0.37 * y + 2.0);
}

class FormTravel : public FormTest {
 protected:
  // A monochrome product 200 samples wide whose framelet f sees the ground moved by f times
  // the travel; `flat` gives every sample the same grey level.
  std::string Write(int32_t framelets, double travel, double drift, bool flat = false) {
    const int32_t height = 14, width = 200;
    SyntheticProduct p = MakeProduct("M7000ME", framelets, height, width, "643 <nm>");
    for (int32_t f = 0; f < framelets; ++f)
      for (int32_t y = 0; y < height; ++y)
        for (int32_t x = 0; x < width; ++x) {
          const double v = flat ? 90 : Ground(x + f * drift, y + f * travel);
          p.rows[(static_cast<size_t>(f) * height + y) * width + x] =
              static_cast<uint8_t>(std::floor(v + 0.5));
        }
    WriteFileBytes(dir.File("M7000ME.IMG"), ProductBytes(p));
    return dir.File("M7000ME.IMG");
  }
  void Load(const std::string& path) {
    port.ExpectOpenDialog(path);
    form->Load_Button->click();
    port.Clear();
    form->Memo1->clear();
  }
  QString Field(TLabeledNumericEdit* field) { return field->NumericEdit->text(); }
  TempDir dir;
};

TEST_F(FormTravel, FindsTheTravelWritesItIntoTheFieldsAndStacks) {
  Load(Write(12, 10.37, -0.6));
  EXPECT_EQ(form->FindTravel_Button->parentWidget(), form->BottomStrip);
  EXPECT_EQ(form->FindTravel_Button->geometry(), QRect(486, 0, 74, 25));
  EXPECT_EQ(form->FindTravel_Button->text(), "Find travel");
  EXPECT_EQ(form->FindTravel_Button->toolTip(),
            "Measure the travel from the overlap of consecutive framelets");
  EXPECT_EQ(form->FindTravel_Button->shortcut(), QKeySequence(Qt::CTRL | Qt::Key_T));

  form->FindTravel_Button->click();
  ASSERT_TRUE(port.ErrorReports().empty()) << port.ErrorReports().front();
  // Three decimals in the fields, and the same values in the message line.
  const QString vertical = Field(form->VerticalOffset_LabeledNumericEdit);
  const QString horizontal = Field(form->HorizontalOffset_LabeledNumericEdit);
  EXPECT_NEAR(vertical.toDouble(), 10.37, 0.01);
  EXPECT_NEAR(horizontal.toDouble(), -0.6, 0.01);
  EXPECT_EQ(vertical.size() - vertical.indexOf('.'), 4);
  const QStringList lines = MemoLines();
  ASSERT_FALSE(lines.isEmpty());
  EXPECT_EQ(lines.front(), "Travel found: vertical " + vertical + ", horizontal " + horizontal +
                               " pixels (band 1, 11 framelet pairs)");
  // ... and the stack is shown with them.
  EXPECT_TRUE(form->DisplayedImage.Stacked);
  EXPECT_NEAR(static_cast<double>(form->DisplayedImage.VStep), vertical.toDouble(), 1e-9);
  EXPECT_EQ(form->picture.Height(), static_cast<int32_t>(std::nearbyint(11 * 10.37)) + 14);
}

TEST_F(FormTravel, SaysWhyWhenTheProductCannotTell) {
  Load(Write(6, 10.0, 0, true));
  form->VerticalOffset_LabeledNumericEdit->NumericEdit->setText("9.5");
  form->FindTravel_Button->click();
  ASSERT_TRUE(port.ErrorReports().empty()) << port.ErrorReports().front();
  EXPECT_EQ(MemoLines().front(),
            "Travel not found (band 1): the scene is featureless: every sample has the same grey "
            "level");
  EXPECT_EQ(Field(form->VerticalOffset_LabeledNumericEdit), "9.5");  // left alone
  EXPECT_FALSE(form->DisplayedImage.Stacked);                        // nothing stacked

  Load(Write(1, 10.0, 0));
  form->FindTravel_Button->click();
  EXPECT_EQ(MemoLines().front(),
            "Travel not found (band 1): the product has 1 framelet: there is no pair of "
            "framelets to compare");
}

TEST_F(FormTravel, OffersTheProfileWhenTheTravelVaries) {
  // The travel grows from 9 to 11 rows along the product.
  const int32_t framelets = 40, height = 14, width = 200;
  SyntheticProduct p = MakeProduct("M7000ME", framelets, height, width, "643 <nm>");
  double y0 = 0, last = 0;
  for (int32_t f = 0; f < framelets; ++f) {
    last = y0;
    for (int32_t y = 0; y < height; ++y)
      for (int32_t x = 0; x < width; ++x)
        p.rows[(static_cast<size_t>(f) * height + y) * width + x] =
            static_cast<uint8_t>(std::floor(Ground(x, y + y0) + 0.5));
    y0 += 9.0 + 2.0 * f / (framelets - 2);
  }
  WriteFileBytes(dir.File("M7000ME.IMG"), ProductBytes(p));
  Load(dir.File("M7000ME.IMG"));
  port.ExpectQuestion(true);
  form->FindTravel_Button->click();
  ASSERT_TRUE(port.ErrorReports().empty()) << port.ErrorReports().front();
  ASSERT_EQ(port.Texts(quelmar::testing::ScriptedPort::Kind::Question).size(), 1u);
  EXPECT_TRUE(MemoLines().contains("Stacked with the measured travel profile"));
  EXPECT_TRUE(form->DisplayedImage.Stacked);
  // Each framelet at the running sum of its own travels: 9 + 10 + ... within a row.
  EXPECT_NEAR(form->picture.Height(), last + 14, 1.5);
}

}  // namespace
