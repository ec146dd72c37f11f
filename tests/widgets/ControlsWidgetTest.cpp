// The widgets under the window: the entry box and its labelled frame, the picture display and
// the Qt user port.
#include <gtest/gtest.h>

#include <QAbstractButton>
#include <QApplication>
#include <QFontMetrics>
#include <QMessageBox>
#include <QPlainTextEdit>
#include <QTest>
#include <QTimer>

#include "app/PictureView.h"
#include "app/QtUserPort.h"
#include "controls/LabeledNumericEdit.h"
#include "support/ScriptedPort.h"

using quelmar::TInputType;
using quelmar::testing::ScriptedPort;
using Strings = std::vector<std::string>;

namespace {

TEST(NumericEditWidget, TypedAndProgramTextsBothReachTheEntryLogic) {
  ScriptedPort port;
  TNumericEdit edit;
  edit.SetPort(&port);
  edit.SetInputMin("0");
  edit.SetInputMax("14");
  edit.setText("20");
  EXPECT_EQ(edit.GetExtendedValue(), 14);
  EXPECT_EQ(port.Messages(), (Strings{"Entry must be between 0 and 14",
                                      "Substituting \"14\" for \"20\" (invalid entry)"}));
  port.Clear();
  edit.clear();
  QTest::keyClicks(&edit, "2,15");
  EXPECT_EQ(edit.EntryText(), "2,15");
  EXPECT_EQ(edit.GetExtendedValue(), 2.15L);
  EXPECT_TRUE(port.Messages().empty());
  EXPECT_EQ(edit.text(), "2,15");
}

TEST(NumericEditWidget, TrimmedTextIsShownAndStaysValidated) {
  ScriptedPort port;
  TNumericEdit edit;
  edit.SetPort(&port);
  edit.SetInputType(TInputType::tInteger);
  edit.setText("  12 ");
  EXPECT_EQ(edit.GetIntegerValue(), 12);
  EXPECT_EQ(edit.text(), "12");
  // The write-back's own change notice must not leave the field unvalidated.
  EXPECT_TRUE(edit.Entry().Validated());
  EXPECT_TRUE(port.Messages().empty());
}

TEST(LabeledNumericEditWidget, EnclosesItsPartsAndMakesRoomForAWideCaption) {
  TLabeledNumericEdit field;
  field.SetItemCaption("A", 52);
  field.SetUnitsCaption("u", 112, 56);
  EXPECT_EQ(field.NumericEdit->geometry(), QRect(56, 0, 47, 21));
  EXPECT_EQ(field.size(), QSize(168, 21));
  field.SetUnitsCaption("", 88, 3);
  field.SetEditPlacement(64, 20);
  field.SetItemCaption("Ab:", 60);
  EXPECT_EQ(field.size(), QSize(91, 21));

  // Wider than designed: the box and the units move right, keeping a gap before the box.
  field.SetItemCaption("A very long caption indeed:", 60);
  const int needed =
      QFontMetrics(field.Item_Label->font()).horizontalAdvance(field.Item_Label->text()) + 1;
  ASSERT_GT(needed, 60);
  const int shift = needed + TLabeledNumericEdit::kMinGap - 64;
  EXPECT_EQ(field.Item_Label->width(), needed);
  EXPECT_EQ(field.NumericEdit->x(), 64 + shift);
  EXPECT_EQ(field.Units_Label->x(), 88 + shift);
  EXPECT_EQ(field.size(), QSize(91 + shift, 21));
  QFont font = field.font();  // a larger font later on is taken into account too
  font.setPixelSize(30);
  field.setFont(font);
  EXPECT_GT(field.NumericEdit->x(), QFontMetrics(font).horizontalAdvance(field.Item_Label->text()));
}

TEST(PictureViewWidget, WrapsThePictureBytesAndTakesItsSize) {
  quelmar::Picture big, small, empty;
  big.Reset(7, 5);
  uint8_t* px = big.Row(2) + 3 * 3;
  px[0] = 10, px[1] = 20, px[2] = 200;  // blue, green, red
  small.Reset(2, 3);
  empty.Reset(0, 0);
  PictureView view;
  view.ShowPicture(big);
  EXPECT_EQ(view.size(), QSize(7, 5));
  EXPECT_EQ(view.Image().constBits(), big.Data());  // no copy
  const QImage shown = view.grab().toImage();
  EXPECT_EQ(shown.pixelColor(3, 2), QColor(200, 20, 10));
  EXPECT_EQ(shown.pixelColor(0, 0), QColor(Qt::white));
  view.ShowPicture(small);  // no column of the wider picture stays
  EXPECT_EQ(view.size(), QSize(2, 3));
  view.ShowPicture(empty);
  EXPECT_EQ(view.size(), QSize(0, 0));
  EXPECT_TRUE(view.Image().isNull());
}

TEST(QtUserPortText, FiltersLineBreaksAndBytesAreConvertedForDisplay) {
  const std::pair<const char*, const char*> filters[] = {
      {"*.IMG|*.IMG", "*.IMG (*.IMG)"},
      {"Text|*.txt;*.TXT|All|*.*", "Text (*.txt *.TXT);;All (*.*)"},
      {"", ""},
      {"dangling", ""}};
  for (const auto& [given, expected] : filters) EXPECT_EQ(quelmar::DialogFilter(given), expected);
  EXPECT_EQ(quelmar::DisplayText("one\rtwo\r\nthree"), "one\ntwo\nthree");
  EXPECT_EQ(quelmar::ToQString("caf\xC3\xA9"), QString::fromUtf8("caf\xC3\xA9"));
  EXPECT_EQ(quelmar::ToQString("caf\xE9 12\xB0"), QString::fromLatin1("caf\xE9 12\xB0"));
}

// Presses `press` on the next modal box and returns what the box showed ("" when none came).
QString AnswerNextBox(QMessageBox::StandardButton press, const std::function<void()>& run) {
  QString seen;
  QTimer::singleShot(0, [&seen, press] {
    auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
    if (box == nullptr) return;
    seen = box->windowTitle() + "|" + box->text() + "|" +
           QString::number(box->textFormat() == Qt::PlainText) + "|" +
           QString::number(box->buttons().size());
    if (QAbstractButton* b = box->button(press))
      b->click();
    else
      box->done(0);
  });
  run();
  return seen;
}

TEST(QtUserPortBoxes, BoxesShowPlainTextWithTheirCaptionsAndAnswers) {
  quelmar::QtUserPort port(nullptr, nullptr);
  EXPECT_EQ(AnswerNextBox(QMessageBox::Ok, [&] { port.ShowMessage("One\rtwo <nm>"); }),
            "Quelmar|One\ntwo <nm>|1|1");
  EXPECT_EQ(AnswerNextBox(QMessageBox::Cancel, [&] { port.ShowSeriousError("bad"); }),
            "Error|bad|1|2");
  bool yes = false;
  EXPECT_FALSE(AnswerNextBox(QMessageBox::Yes, [&] { yes = port.AskYesNo("Search?"); }).isEmpty());
  EXPECT_TRUE(yes);
  AnswerNextBox(QMessageBox::No, [&] { yes = port.AskYesNo("Search?"); });
  EXPECT_FALSE(yes);
  AnswerNextBox(QMessageBox::NoButton, [&] { yes = port.AskYesNo("Search?"); });  // closed
  EXPECT_FALSE(yes);
}

TEST(QtUserPortArea, LinesAndBusyCursor) {
  QPlainTextEdit memo;
  {
    quelmar::QtUserPort port(nullptr, &memo);
    port.AppendLine("first");
    port.AppendLine("");
    port.AppendLine("third\rfourth");
    EXPECT_EQ(memo.toPlainText(), "first\n\nthird\nfourth");
    {
      quelmar::BusyCursor outer(port);
      EXPECT_EQ(QApplication::overrideCursor()->shape(), Qt::WaitCursor);
      { quelmar::BusyCursor inner(port); }
    }
    EXPECT_EQ(QApplication::overrideCursor(), nullptr);  // never stacked, always restored
    port.SetBusyCursor(true);
  }
  EXPECT_EQ(QApplication::overrideCursor(), nullptr);  // a port that goes leaves none behind
}

}  // namespace
