// The window's colour controls: what a load prepares, the colour picture that Stack shows with
// "Colour" ticked, its name on Save and the calibration record it does not get.
#include <QTest>
#include <algorithm>
#include <cmath>
#include <vector>

#include "support/TestFiles.h"
#include "widgets/FormFixture.h"

using quelmar::testing::FormTest;
using quelmar::testing::MakeProduct;
using quelmar::testing::ProductBytes;
using quelmar::testing::ReadFileBytes;
using quelmar::testing::TempDir;
using quelmar::testing::WriteFileBytes;

namespace {

class ColourWindow : public FormTest {
 protected:
  std::string Write(const std::string& id, int32_t height, const std::string& wavelengths) {
    WriteFileBytes(dir.File(id + ".IMG"),
                   ProductBytes(MakeProduct(id, 6, height, 64, wavelengths)));
    return dir.File(id + ".IMG");
  }
  void Load(const std::string& path) {
    port.ExpectOpenDialog(path);
    form->Load_Button->click();
  }
  ColourControls& Colour() { return *form->Colour_Controls; }
  TempDir dir;
};

TEST_F(ColourWindow, LoadPreparesTheBandsAndOnlyProductsOfThreeBandsEnableThem) {
  Load(Write("M7000CE", 78, "(321, 360, 415, 566, 604, 643, 689) <nm>"));
  EXPECT_EQ(Colour().Band_Edits[0]->text(), "7");
  EXPECT_EQ(Colour().Band_Edits[1]->text(), "5");
  EXPECT_EQ(Colour().Band_Edits[2]->text(), "3");
  EXPECT_TRUE(Colour().Colour_CheckBox->isEnabled());
  Load(Write("M7001VE", 70, "(415, 566, 604, 643, 689) <nm>"));
  EXPECT_EQ(Colour().Band_Edits[0]->text(), "5");
  EXPECT_EQ(Colour().Band_Edits[2]->text(), "1");
  Load(Write("M7002UE", 8, "(321, 360) <nm>"));
  EXPECT_FALSE(Colour().Colour_CheckBox->isEnabled());
  EXPECT_FALSE(Colour().Band_Edits[0]->isEnabled());
  // Keyboard: the controls follow the strip's other controls in the tab order.
  const auto nextTab = [](QWidget* from) {
    QWidget* next = from->nextInFocusChain();
    while (from->isAncestorOf(next) || (next->focusPolicy() & Qt::TabFocus) == 0)
      next = next->nextInFocusChain();
    return next;
  };
  EXPECT_EQ(nextTab(form->FindTravel_Button), Colour().Colour_CheckBox);
  EXPECT_EQ(nextTab(Colour().Colour_CheckBox), Colour().Band_Edits[0]);
  EXPECT_EQ(nextTab(Colour().Band_Edits[1]), Colour().Band_Edits[2]);
  EXPECT_EQ(nextTab(Colour().Band_Edits[2]), Colour().Stretch_CheckBox);
  // The strip's controls stand side by side, each wide enough for its text, the last one inside
  // the strip at the window's size.
  std::vector<QWidget*> row{form->FindTravel_Button, Colour().Colour_CheckBox,
                            Colour().Bands_Label};
  for (QWidget* w : Colour().Band_Edits) row.push_back(w);
  row.push_back(Colour().Stretch_CheckBox);
  for (size_t k = 0; k + 1 < row.size(); ++k) {
    EXPECT_LT(row[k]->geometry().right(), row[k + 1]->geometry().left())
        << row[k + 1]->objectName().toStdString();
  }
  EXPECT_LE(Colour().Stretch_CheckBox->sizeHint().width(), Colour().Stretch_CheckBox->width());
  EXPECT_LE(Colour().Stretch_CheckBox->geometry().right(), form->BottomStrip->width() - 1);
}

TEST_F(ColourWindow, TickingColourStacksThreeBandsAndSaveWritesNoCalibrationRecord) {
  Load(Write("M7000CE", 78, "(321, 360, 415, 566, 604, 643, 689) <nm>"));
  form->DYRA_CalData_CheckBox->setChecked(true);
  port.Clear();
  QTest::mouseClick(Colour().Colour_CheckBox, Qt::LeftButton, {},
                    QPoint(6, Colour().Colour_CheckBox->height() / 2));
  ASSERT_TRUE(Colour().Checked());
  EXPECT_TRUE(port.ErrorReports().empty()) << port.ErrorReports().front();
  const std::vector<std::string> lines = port.Lines();
  ASSERT_GE(lines.size(), 4u);
  EXPECT_EQ(lines[0], "Colour picture on the grid of band 5:");
  EXPECT_EQ(lines[1].rfind("red: band 7 (689 nm)", 0), 0u) << lines[1];
  EXPECT_EQ(lines[2], "green: band 5 (604 nm), the reference");
  EXPECT_EQ(lines[3].rfind("blue: band 3 (415 nm)", 0), 0u) << lines[3];
  EXPECT_EQ(form->DisplayedImage.Wavelength, "689_604_415");
  // On the grid of band 5's stack: 5 x 11 + 14 rows, the product's 64 columns.
  EXPECT_EQ(form->picture.Height(), 69);
  EXPECT_EQ(form->picture.Width(), 64);

  port.Clear();
  port.ExpectSaveDialog(dir.File("colour.bmp"));
  form->Save_Button->click();
  const auto& calls = port.Calls();
  const auto dialog = std::find_if(calls.begin(), calls.end(), [](const auto& c) {
    return c.kind == quelmar::testing::ScriptedPort::Kind::SaveDialog;
  });
  ASSERT_NE(dialog, calls.end());
  EXPECT_EQ(dialog->request.fileName, "M7000CE_689_604_415nm.bmp");
  EXPECT_EQ(ReadFileBytes(dir.File("colour.bmp")).substr(0, 2), "BM");
  EXPECT_EQ(port.Lines(),
            std::vector<std::string>{"No calibration record is written for a colour picture"});
  EXPECT_TRUE(port.Texts(quelmar::testing::ScriptedPort::Kind::Question).empty());

  // Unticked, Stack shows the band field's band again, and Save names it as before.
  QTest::mouseClick(Colour().Colour_CheckBox, Qt::LeftButton, {},
                    QPoint(6, Colour().Colour_CheckBox->height() / 2));
  EXPECT_EQ(form->DisplayedImage.Wavelength, "415");
}

// "Stretch", there to tick while "Colour" is ticked, restacks the colour picture shown as
// enhanced colour (each channel spread between its percentiles), says so, and unticked gives the
// picture back as it was.
TEST_F(ColourWindow, StretchRestacksTheColourPictureEnhanced) {
  WriteFileBytes(
      dir.File("M7004CE.IMG"),
      ProductBytes(MakeProduct("M7004CE", 24, 78, 64, "(321, 360, 415, 566, 604, 643, 689) <nm>")));
  Load(dir.File("M7004CE.IMG"));
  // It belongs to a colour picture: there to tick only while "Colour" is ticked.
  EXPECT_FALSE(Colour().Stretch_CheckBox->isEnabled());
  QTest::mouseClick(Colour().Colour_CheckBox, Qt::LeftButton, {},
                    QPoint(6, Colour().Colour_CheckBox->height() / 2));
  EXPECT_TRUE(Colour().Stretch_CheckBox->isEnabled());
  const quelmar::Picture plain = form->picture;
  const auto same = [](const quelmar::Picture& a, const quelmar::Picture& b) {
    if (a.Height() != b.Height() || a.Stride() != b.Stride()) return false;
    for (int32_t y = 0; y < a.Height(); ++y)
      if (!std::equal(a.Row(y), a.Row(y) + a.Stride(), b.Row(y))) return false;
    return true;
  };
  port.Clear();
  QTest::mouseClick(Colour().Stretch_CheckBox, Qt::LeftButton, {},
                    QPoint(6, Colour().Stretch_CheckBox->height() / 2));
  ASSERT_TRUE(Colour().Stretched());
  EXPECT_TRUE(port.ErrorReports().empty()) << port.ErrorReports().front();
  const std::vector<std::string> lines = port.Lines();
  ASSERT_FALSE(lines.empty());
  EXPECT_EQ(lines[0], "Colour picture on the grid of band 5:");
  EXPECT_NE(
      std::find(lines.begin(), lines.end(),
                "Enhanced colour: each channel stretched between its 1st and 99th percentiles"),
      lines.end());
  EXPECT_EQ(form->DisplayedImage.Wavelength, "689_604_415");
  EXPECT_FALSE(same(form->picture, plain));
  QTest::mouseClick(Colour().Stretch_CheckBox, Qt::LeftButton, {},
                    QPoint(6, Colour().Stretch_CheckBox->height() / 2));
  EXPECT_TRUE(same(form->picture, plain));
  QTest::mouseClick(Colour().Colour_CheckBox, Qt::LeftButton, {},
                    QPoint(6, Colour().Colour_CheckBox->height() / 2));
  EXPECT_FALSE(Colour().Stretch_CheckBox->isEnabled());
}

// With "Colour" ticked, Find travel measures the colour picture's travel on its reference band,
// and a travel that varies along the product, taken as a profile, places the colour picture's
// framelets too.
TEST_F(ColourWindow, FindTravelWithColourTickedMeasuresTheReferenceAndStacksInColour) {
  // A visible product whose travel grows from 9 to 11 rows; each band sees the ground 20 rows
  // beyond the one before it.
  const int32_t framelets = 40, bandRows = 14, bands = 5, width = 200;
  quelmar::testing::SyntheticProduct p =
      MakeProduct("M7005VE", framelets, bands * bandRows, width, "(415, 566, 604, 643, 689) <nm>");
  const auto ground = [](double x, double y) {
    return 120 + 40 * std::sin(0.21 * x + 0.13 * y) + 25 * std::cos(0.17 * y - 0.09 * x + 1.0) +
           15 * std::sin(0.43 * x + 0.37 * y + 2.0);
  };
  double y0 = 0, last = 0;
  for (int32_t f = 0; f < framelets; ++f) {
    last = y0;
    for (int32_t y = 0; y < bands * bandRows; ++y)
      for (int32_t x = 0; x < width; ++x)
        p.rows[(static_cast<size_t>(f) * bands * bandRows + y) * width + x] = static_cast<uint8_t>(
            std::floor(ground(x, y % bandRows + 20 * (y / bandRows) + y0) + 0.5));
    y0 += 9.0 + 2.0 * f / (framelets - 2);
  }
  WriteFileBytes(dir.File("M7005VE.IMG"), ProductBytes(p));
  Load(dir.File("M7005VE.IMG"));
  QTest::mouseClick(Colour().Colour_CheckBox, Qt::LeftButton, {},
                    QPoint(6, Colour().Colour_CheckBox->height() / 2));
  form->BandSelection_LabeledNumericEdit->NumericEdit->setText("1");  // not the one measured
  port.Clear();
  form->Memo1->clear();
  port.ExpectQuestion(true);
  form->FindTravel_Button->click();
  ASSERT_TRUE(port.ErrorReports().empty()) << port.ErrorReports().front();
  const std::vector<std::string> lines = port.Lines();
  ASSERT_FALSE(lines.empty());
  EXPECT_NE(lines[0].find("(band 3, 39 framelet pairs)"), std::string::npos) << lines[0];
  ASSERT_EQ(port.Texts(quelmar::testing::ScriptedPort::Kind::Question).size(), 1u);
  EXPECT_NE(std::find(lines.begin(), lines.end(), "Stacked with the measured travel profile"),
            lines.end());
  EXPECT_NE(std::find(lines.begin(), lines.end(), "Colour picture on the grid of band 3:"),
            lines.end());
  EXPECT_EQ(form->DisplayedImage.Wavelength, "689_604_415");
  // Each framelet at the running sum of its own travels: 9 + 10 + ... within a row.
  EXPECT_NEAR(form->picture.Height(), last + bandRows, 1.5);
}

}  // namespace
