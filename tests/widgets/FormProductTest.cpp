// The window with synthetic products: what Load prepares, Raw, Stack and Invert, and Save with
// the ways the calibration file is found, created or given up on.
#include <QScrollBar>
#include <functional>

#include "support/TestFiles.h"
#include "util/Paths.h"
#include "util/WinOps.h"
#include "widgets/FormFixture.h"

using quelmar::testing::FormTest;
using quelmar::testing::MakeProduct;
using quelmar::testing::ProductBytes;
using quelmar::testing::ReadFileBytes;
using quelmar::testing::ScriptedPort;
using quelmar::testing::SyntheticProduct;
using quelmar::testing::TempDir;
using quelmar::testing::WriteFileBytes;
using Strings = std::vector<std::string>;

namespace {

class FormProduct : public FormTest {
 protected:
  void SetUp() override {
    FormTest::SetUp();
    quelmar::LastLocatedFolder.clear();
    form->CalibrationFilePath = dir.File("cal.txt");
  }
  // A product 32 samples wide, written into the test's folder.
  std::string Write(const std::string& id, int32_t framelets, int32_t height,
                    const std::function<void(SyntheticProduct&)>& change = {}) {
    SyntheticProduct p =
        MakeProduct(id, framelets, height, 32,
                    "(321 <nm>, 360 <nm>, 415 <nm>, 566 <nm>, 604 <nm>, 643 <nm>, 689 <nm>)");
    if (change) change(p);
    WriteFileBytes(dir.File(id + ".IMG"), ProductBytes(p));
    return dir.File(id + ".IMG");
  }
  void Load(const std::string& path) {
    port.ExpectOpenDialog(path);
    form->Load_Button->click();
  }
  // Loads a colour product and stacks band 3 (415 nm), with support data at hand.
  void ShowStackedBand() {
    Load(Write("M6000CE", 4, 78));
    form->HorizontalOffset_LabeledNumericEdit->NumericEdit->setText("-0.5");
    form->Stack_Button->click();
    ASSERT_TRUE(form->DisplayedImage.Stacked);
    form->SupportData.Available = true;
    form->SupportData.StartTime = "\"2010-03-07T10:00:00.000\"";
    form->SupportData.EndTime = "\"2010-03-07T10:00:01.000\"";
    form->DYRA_CalData_CheckBox->setChecked(true);
    port.Clear();
  }
  // Saves as `name`; `answers` script what the calibration step asks after the dialog.
  void SaveAs(const std::string& name, const std::function<void()>& answers = {}) {
    port.ExpectSaveDialog(dir.File(name));
    if (answers) answers();
    form->Save_Button->click();
    EXPECT_TRUE(port.ErrorReports().empty()) << port.ErrorReports().front();
    EXPECT_EQ(ReadFileBytes(dir.File(name)).substr(0, 2), "BM");
  }
  static size_t Records(const std::string& path) {
    const std::string text = ReadFileBytes(path);
    size_t n = 0;
    for (size_t at = text.find("\nU1, 2010/3/7, 10:00:00"); at != std::string::npos;
         at = text.find("\nU1, 2010/3/7, 10:00:00", at + 1))
      ++n;
    return n;
  }
  TNumericEdit* Band() { return form->BandSelection_LabeledNumericEdit->NumericEdit; }
  TempDir dir;
};

TEST_F(FormProduct, LoadPreparesTheFieldsSetsTheCaptionAndShowsTheRawFramelets) {
  const std::string path = Write("M1000CE", 3, 78);
  form->VerticalOffset_LabeledNumericEdit->NumericEdit->setText("5");  // replaced by the load
  Load(path);
  ASSERT_TRUE(port.ErrorReports().empty()) << port.ErrorReports().front();
  EXPECT_EQ(port.Calls().front().request.title,
            "Open LROC WAC EDR IMG file (*ME.IMG, *CE.IMG, *UE.IMG, *VE.IMG)");
  EXPECT_EQ(port.Calls().front().request.filter, "*.IMG|*.IMG");
  EXPECT_EQ(Band()->text(), "3");
  EXPECT_EQ(Band()->toolTip(), "Enter an integer between 1 and 7");
  EXPECT_FALSE(form->BandSelection_LabeledNumericEdit->isHidden());
  EXPECT_EQ(form->VerticalOffset_LabeledNumericEdit->NumericEdit->text(), "11");
  EXPECT_EQ(form->windowTitle(), "Quelmar (v1.6.1) :    M1000CE.IMG");
  EXPECT_EQ(form->focusWidget(), form->Raw_Button);
  EXPECT_EQ(MemoLines().front().toStdString(), "Loading: " + path);
  EXPECT_EQ(form->Image1->size(), QSize(32, 3 * 78));
  EXPECT_EQ(form->Image1->Image().constBits(), form->picture.Data());
  EXPECT_TRUE(port.CursorRestored());
}

TEST_F(FormProduct, EachKindSetsBandFieldAndVerticalTravel) {
  const struct {
    const char *id, *bandBefore, *bandAfter, *max, *travel;
    int32_t height;
    bool bandShown;
  } kinds[] = {{"M2000ME", "5", "1", "1", "11", 14, false},
               {"M2000UE", "2", "2", "2", "2.15", 8, true},
               {"M2000VE", "6", "1", "5", "11", 70, true},
               {"M2000CE", "5", "5", "7", "11", 78, true}};
  for (const auto& k : kinds) {
    SCOPED_TRACE(k.id);
    ScriptedPort fresh;
    TQuelmar_Form window(&fresh);
    window.BandSelection_LabeledNumericEdit->NumericEdit->setText(k.bandBefore);
    fresh.ExpectOpenDialog(Write(k.id, 2, k.height));
    window.Load_Button->click();
    EXPECT_EQ(window.BandSelection_LabeledNumericEdit->NumericEdit->text(), k.bandAfter);
    EXPECT_EQ(window.BandSelection_LabeledNumericEdit->NumericEdit->InputMax(), k.max);
    EXPECT_EQ(!window.BandSelection_LabeledNumericEdit->isHidden(), k.bandShown);
    EXPECT_EQ(window.VerticalOffset_LabeledNumericEdit->NumericEdit->text(), k.travel);
    EXPECT_EQ(window.picture.Height(), 2 * k.height);
    EXPECT_TRUE(fresh.Messages().empty() && fresh.ErrorReports().empty());
  }
}

TEST_F(FormProduct, FailedLoadsStopWhereTheyShould) {
  port.ExpectOpenDialog(std::nullopt);  // cancelled: nothing at all
  form->Load_Button->click();
  EXPECT_EQ(port.Calls().size(), 1u);

  Load(Write("M3000ME", 2, 14, [](SyntheticProduct& p) { p.labelLines.back() = "END "; }));
  EXPECT_EQ(port.Lines().back(), "Unable to find text header");  // and no Raw after it
  EXPECT_EQ(form->windowTitle(), "Quelmar (v1.6.1)");

  Load(dir.File("missing.IMG"));  // one error box naming the file; no caption, no Raw
  ASSERT_EQ(port.ErrorReports().size(), 1u);
  EXPECT_NE(port.ErrorReports().front().find("missing.IMG"), std::string::npos);
  EXPECT_EQ(form->windowTitle(), "Quelmar (v1.6.1)");
  EXPECT_TRUE(port.CursorRestored());

  Load(Write("M4000ME", 2, 14, [](SyntheticProduct& p) {
    for (auto& line : p.labelLines)
      if (line.find("SAMPLE_BITS") != std::string::npos) line = "SAMPLE_BITS = 16";
  }));
  EXPECT_EQ(form->windowTitle(), "Quelmar (v1.6.1) :    M4000ME.IMG");
  EXPECT_EQ(port.Lines().back(), "Need to load readable image data");
  EXPECT_EQ(form->focusWidget(), form->Load_Button);
}

TEST_F(FormProduct, StackShowsTheBandAndInvertBringsBackTheRawFramelets) {
  ShowStackedBand();
  const quelmar::DisplayedImageInfo& shown = form->DisplayedImage;
  EXPECT_EQ(shown.Wavelength, "415");
  EXPECT_EQ(shown.VStep, 11);
  EXPECT_EQ(shown.HStep, -0.5L);
  // Three framelets 11 rows apart plus the last 14-row strip; 2 extra columns for the travel.
  EXPECT_EQ(form->Image1->size(), QSize(34, 3 * 11 + 14));
  form->Invert_CheckBox->click();
  EXPECT_FALSE(shown.Stacked);
  EXPECT_TRUE(shown.Inverted);
  EXPECT_EQ(form->Image1->size(), QSize(32, 4 * 78));
  EXPECT_EQ(form->focusWidget(), form->Raw_Button);
}

TEST_F(FormProduct, SaveAppendsToAnExistingCalibrationFileWithoutAQuestion) {
  ShowStackedBand();
  WriteFileBytes(form->CalibrationFilePath, "*mine\r\n");
  SaveAs("band.bmp");
  EXPECT_EQ(port.Calls().front().request.fileName, "M6000CE_415nm.bmp");
  EXPECT_EQ(Records(form->CalibrationFilePath), 1u);
  EXPECT_EQ(port.Lines().back(),
            "Calibration data has been saved to \"" + form->CalibrationFilePath + "\"");
}

TEST_F(FormProduct, SaveWithoutCalibrationFileAsksWhereToPutTheRecord) {
  ShowStackedBand();
  const std::string created = form->CalibrationFilePath;
  SaveAs("no.bmp", [this] { port.ExpectQuestion(false); });  // No: a new file with its header
  EXPECT_EQ(
      port.Messages(),
      Strings{"Your calibration data are being added to a new calibration file: \r" + created});
  EXPECT_EQ(ReadFileBytes(created).rfind("*DYRA User Photo Calibration Data\r\n", 0), 0u);
  EXPECT_EQ(Records(created), 1u);

  TempDir elsewhere;  // Yes, and a file picked elsewhere is used from then on
  const std::string other = elsewhere.File("MyCal.txt");
  WriteFileBytes(other, "*kept\r\n");
  form->CalibrationFilePath = dir.File("gone.txt");
  SaveAs("yes.bmp", [&] {
    port.ExpectQuestion(true);
    port.ExpectOpenDialog(other);
  });
  EXPECT_EQ(form->CalibrationFilePath, other);
  SaveAs("again.bmp");
  EXPECT_EQ(Records(other), 2u);

  port.Clear();  // Yes, and nothing picked: nothing written anywhere
  form->CalibrationFilePath = dir.File("never.txt");
  SaveAs("none.bmp", [this] {
    port.ExpectQuestion(true);
    port.ExpectOpenDialog(std::nullopt);
  });
  EXPECT_EQ(port.Messages(),
            Strings{"Unable to save calibration data -- no destination file selected"});
  EXPECT_FALSE(quelmar::FileExists(dir.File("never.txt")));
  EXPECT_FALSE(quelmar::FileExists(dir.File("gone.txt")));
}

TEST_F(FormProduct, ANewPictureIsShownFromItsTopLeftCorner) {
  form->show();
  Load(Write("M6001CE", 60, 78));
  QScrollBar* vertical = form->ScrollBox1->verticalScrollBar();
  vertical->setValue(vertical->maximum());
  form->Stack_Button->click();
  EXPECT_EQ(form->Image1->height(), 59 * 11 + 14);
  EXPECT_EQ(vertical->maximum(), form->Image1->height() - form->ScrollBox1->viewport()->height());
  EXPECT_EQ(vertical->value(), 0);
  // Another band of the same size keeps the place being looked at.
  vertical->setValue(100);
  Band()->setText("4");
  form->Stack_Button->click();
  EXPECT_EQ(form->DisplayedImage.Wavelength, "566");
  EXPECT_EQ(vertical->value(), 100);
}

}  // namespace
