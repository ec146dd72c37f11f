// The window's colour controls: what a load prepares, the colour picture that Stack shows with
// "Colour" ticked, its name on Save and the calibration record it does not get.
#include <QTest>
#include <algorithm>
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

// "Stretch" restacks the colour picture shown as enhanced colour (each channel spread between its
// percentiles), says so, and unticked gives the picture back as it was.
TEST_F(ColourWindow, StretchRestacksTheColourPictureEnhanced) {
  WriteFileBytes(
      dir.File("M7004CE.IMG"),
      ProductBytes(MakeProduct("M7004CE", 24, 78, 64, "(321, 360, 415, 566, 604, 643, 689) <nm>")));
  Load(dir.File("M7004CE.IMG"));
  // Without a colour picture shown, ticking it only sets what the next one will be.
  port.Clear();
  QTest::mouseClick(Colour().Stretch_CheckBox, Qt::LeftButton, {},
                    QPoint(6, Colour().Stretch_CheckBox->height() / 2));
  EXPECT_TRUE(port.Lines().empty());
  QTest::mouseClick(Colour().Stretch_CheckBox, Qt::LeftButton, {},
                    QPoint(6, Colour().Stretch_CheckBox->height() / 2));
  QTest::mouseClick(Colour().Colour_CheckBox, Qt::LeftButton, {},
                    QPoint(6, Colour().Colour_CheckBox->height() / 2));
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
}

}  // namespace
