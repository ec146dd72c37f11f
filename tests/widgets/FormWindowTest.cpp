// The window without a product: start-up state, layout with this machine's fonts, the resize
// and show/hide rules, Clear, Raw and Stack before a load, and the one error box.
#include <QFontMetrics>
#include <QTest>
#include <stdexcept>

#include "util/Paths.h"
#include "widgets/FormFixture.h"

using quelmar::testing::FormTest;
using quelmar::testing::ScriptedPort;
using Strings = std::vector<std::string>;

namespace {

using FormWindow = FormTest;

TEST_F(FormWindow, StartsWithTitleEmptyAreaAndHiddenOptions) {
  EXPECT_EQ(form->windowTitle(), "Quelmar (v1.6.1)");
  EXPECT_TRUE(form->Memo1->toPlainText().isEmpty());
  EXPECT_TRUE(port.Calls().empty());  // no box and no line at start-up
  EXPECT_TRUE(form->CorrectVerticalDistortion_CheckBox->isHidden());
  EXPECT_TRUE(form->VertCorrection_LabeledNumericEdit->isHidden());
  EXPECT_TRUE(form->BandSelection_LabeledNumericEdit->isHidden());
  EXPECT_FALSE(form->CorrectDistortion_CheckBox->isHidden());
  EXPECT_EQ(form->CalibrationFilePath,
            quelmar::ExecutableFolder() + "WAC_Images_DYRA_CalibrationData.txt");
  EXPECT_EQ(form->IMG_file_OpenDialog.initialFolder, quelmar::ExecutableFolder());
  EXPECT_EQ(form->Memo1->font().pixelSize(), 11);
  // Every character as wide as any other (some monospaced fonts do not say they are).
  const QFontMetrics memo(form->Memo1->font());
  for (const char* text : {"WWWWW", "mmmmm", "....."})
    EXPECT_EQ(memo.horizontalAdvance(QString::fromLatin1(text)), memo.horizontalAdvance("iiiii"));
  TNumericEdit* vertical = form->VerticalOffset_LabeledNumericEdit->NumericEdit;
  EXPECT_EQ(vertical->EntryText(), "11");
  EXPECT_TRUE(vertical->Entry().MinValid() && vertical->Entry().MaxValid());
}

// With every optional control shown, no two controls overlap, no caption is cut off and
// nothing reaches past the window's right edge, whatever font stands in for the designed one.
TEST_F(FormWindow, NothingOverlapsAndNoCaptionIsCutOff) {
  form->CorrectVerticalDistortion_CheckBox->show();
  form->VertCorrection_LabeledNumericEdit->show();
  form->BandSelection_LabeledNumericEdit->show();
  auto shownRect = [](QWidget* w) {  // a frame's empty units caption shows nothing
    auto* f = qobject_cast<TLabeledNumericEdit*>(w);
    if (f == nullptr) return w->geometry();
    QRect r = f->Item_Label->geometry().united(f->NumericEdit->geometry());
    if (!f->Units_Label->text().isEmpty()) r = r.united(f->Units_Label->geometry());
    return r.translated(f->pos());
  };
  const QList<QWidget*> controls = form->findChildren<QWidget*>(Qt::FindDirectChildrenOnly);
  ASSERT_GE(controls.size(), 17);  // the designed controls and those added beside them
  for (qsizetype i = 0; i < controls.size(); ++i) {
    EXPECT_LE(shownRect(controls[i]).right(), TQuelmar_Form::kRightLimit);
    for (qsizetype j = i + 1; j < controls.size(); ++j)
      EXPECT_FALSE(shownRect(controls[i]).intersects(shownRect(controls[j])))
          << controls[i]->metaObject()->className() << " at " << controls[i]->x() << ","
          << controls[i]->y() << " and " << controls[j]->metaObject()->className() << " at "
          << controls[j]->x() << "," << controls[j]->y();
    if (auto* box = qobject_cast<QCheckBox*>(controls[i])) {
      EXPECT_GE(box->width(), TQuelmar_Form::CheckBoxNeededWidth(box));
    } else if (auto* button = qobject_cast<QPushButton*>(controls[i])) {
      EXPECT_LT(button->fontMetrics().horizontalAdvance(button->text()), button->width() - 2);
    } else if (auto* f = qobject_cast<TLabeledNumericEdit*>(controls[i])) {
      EXPECT_LE(f->Item_Label->fontMetrics().horizontalAdvance(f->Item_Label->text()),
                f->Item_Label->width());
    }
  }
  EXPECT_GT(form->CorrectVerticalDistortion_CheckBox->x(), form->CorrectDistortion_CheckBox->x());
}

TEST_F(FormWindow, ImageFrameFollowsTheOuterSizeAndNeverGoesNegative) {
  form->show();
  ASSERT_TRUE(QTest::qWaitForWindowExposed(form.get()));
  const QSize frame = form->frameGeometry().size() - form->geometry().size();
  form->resize(QSize(1000, 700) - frame);
  QApplication::processEvents();
  EXPECT_EQ(form->ScrollBox1->geometry(), QRect(8, 168, 972, 487));
  form->resize(QSize(20, 200) - frame);
  QApplication::processEvents();
  EXPECT_EQ(form->ScrollBox1->size(), QSize(0, 0));
}

TEST_F(FormWindow, CorrectionOptionsShowAndHideAsTheBoxesAreClicked) {
  QCheckBox* correct = form->CorrectDistortion_CheckBox;
  QCheckBox* vertically = form->CorrectVerticalDistortion_CheckBox;
  const struct {
    QCheckBox* click;
    bool verticalBoxShown, shiftShown;
  } steps[] = {{correct, true, false},
               {vertically, true, true},
               {correct, false, false},
               {correct, true, true},
               {vertically, true, false}};
  for (const auto& s : steps) {
    s.click->click();
    EXPECT_EQ(!vertically->isHidden(), s.verticalBoxShown);
    EXPECT_EQ(!form->VertCorrection_LabeledNumericEdit->isHidden(), s.shiftShown);
  }
  EXPECT_TRUE(port.Calls().empty());  // showing and hiding draws nothing
}

TEST_F(FormWindow, ClearRawAndInvertBeforeAnyLoad) {
  port.AppendLine("one");
  form->ClearMemo_Button->click();
  EXPECT_TRUE(form->Memo1->toPlainText().isEmpty());

  form->Raw_Button->click();
  EXPECT_EQ(port.Lines().back(), "Need to load readable image data");
  EXPECT_EQ(form->focusWidget(), form->Load_Button);
  EXPECT_EQ(form->Image1->size(), QSize(0, 0));
  form->Invert_CheckBox->click();  // the same command, then the focus on Raw
  EXPECT_EQ(port.Lines().back(), "Need to load readable image data");
  EXPECT_EQ(form->focusWidget(), form->Raw_Button);
  EXPECT_TRUE(port.ErrorReports().empty());
}

TEST_F(FormWindow, StackReportsTheVerticalFieldBeforeTheHorizontalOne) {
  form->VerticalOffset_LabeledNumericEdit->NumericEdit->setText("abc");
  form->HorizontalOffset_LabeledNumericEdit->NumericEdit->setText("1,2,3");
  form->Stack_Button->click();
  EXPECT_EQ(port.Messages(), (Strings{"\"abc\" is not a valid Extended; error at position 1",
                                      "Substituting \"0\" for \"abc\" (invalid entry)",
                                      "\"1,2,3\" is not a valid Extended; error at position 4",
                                      "Substituting \"0\" for \"1,2,3\" (invalid entry)"}));
  EXPECT_EQ(port.Lines(), Strings{"Need to load readable image data"});  // then goes on
}

// A port whose message area fails once armed: stands for any error deep inside a command.
class FailingPort : public ScriptedPort {
 public:
  void AppendLine(std::string_view line) override {
    if (armed) throw std::runtime_error("Cannot write to the message area");
    ScriptedPort::AppendLine(line);
  }
  bool armed = true;
};

TEST(FormErrors, AnErrorEscapingACommandIsShownInOneErrorBoxAndTheWindowGoesOn) {
  FailingPort port;
  TQuelmar_Form form(&port);
  form.Header_Button->click();
  EXPECT_EQ(port.ErrorReports(), Strings{"Cannot write to the message area"});
  port.Clear();
  form.Invert_CheckBox->click();  // presses Raw: reported once, by the inner command
  EXPECT_EQ(port.ErrorReports(), Strings{"Cannot write to the message area"});
  EXPECT_TRUE(port.CursorRestored());
  port.armed = false;
  port.Clear();
  form.Header_Button->click();
  EXPECT_EQ(port.Lines(), Strings{""});
  EXPECT_TRUE(port.ErrorReports().empty());
}

}  // namespace
