// The window as a picture viewer: zoom and its drawing, the place under the mouse, dropping a
// product, the shortcuts and the keyboard steps of the travel fields.
#include <QMimeData>
#include <QScrollBar>
#include <QSignalSpy>
#include <QTest>
#include <QUrl>

#include "assembly/PicturePlace.h"
#include "support/TestFiles.h"
#include "widgets/FormFixture.h"

using quelmar::testing::FormTest;
using quelmar::testing::MakeProduct;
using quelmar::testing::ProductBytes;
using quelmar::testing::TempDir;
using quelmar::testing::WriteFileBytes;

namespace {

class Viewer : public FormTest {
 protected:
  void SetUp() override {
    FormTest::SetUp();
    form->show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(form.get()));
  }
  // A colour product 64 samples wide of `framelets` framelets, loaded.
  std::string LoadProduct(int32_t framelets = 12) {
    auto p = MakeProduct("M7000CE", framelets, 78, 64,
                         "(321 <nm>, 360 <nm>, 415 <nm>, 566 <nm>, 604 <nm>, 643 <nm>, 689 <nm>)");
    for (size_t i = 0; i < p.rows.size(); ++i) p.rows[i] = static_cast<uint8_t>(i * 7 % 251);
    const std::string path = dir.File("M7000CE.IMG");
    WriteFileBytes(path, ProductBytes(p));
    form->LoadProductFile(path);
    return path;
  }
  QRgb Shown(int x, int y) { return form->Image1->grab(QRect(x, y, 1, 1)).toImage().pixel(0, 0); }
  static QRgb Rgb(const uint8_t* bgr) { return qRgb(bgr[2], bgr[1], bgr[0]); }
  TNumericEdit* Vertical() { return form->VerticalOffset_LabeledNumericEdit->NumericEdit; }
  TempDir dir;
};

TEST_F(Viewer, ZoomKeepsThePointLookedAtAndDrawsSharpInAndAveragedOut) {
  LoadProduct();
  PictureView* view = form->Image1;
  const quelmar::Picture& picture = form->picture;
  ASSERT_EQ(view->size(), QSize(64, 12 * 78));

  // Zoomed in: every picture pixel is a sharp 4 x 4 square.
  QTest::keyClick(form.get(), Qt::Key_0, Qt::ControlModifier);
  view->SetZoom(4);
  EXPECT_EQ(view->size(), QSize(256, 4 * 12 * 78));
  for (const auto& [x, y] : {std::pair{0, 0}, {5, 9}, {63, 100}}) {
    for (const int d : {0, 3}) {
      EXPECT_EQ(Shown(4 * x + d, 4 * y + d), Rgb(picture.Row(y) + 3 * x)) << x << "," << y;
    }
  }
  // Zoomed out to one half: each screen pixel is the mean of the 2 x 2 pixels it covers.
  view->SetZoom(0.5);
  EXPECT_EQ(view->size(), QSize(32, 6 * 78));
  for (const auto& [x, y] : {std::pair{0, 0}, {7, 30}, {31, 400}}) {
    int sum[3] = {0, 0, 0};
    for (int dy = 0; dy < 2; ++dy)
      for (int dx = 0; dx < 2; ++dx)
        for (int c = 0; c < 3; ++c) sum[c] += picture.Row(2 * y + dy)[3 * (2 * x + dx) + c];
    const QRgb shown = Shown(x, y);
    EXPECT_EQ(qBlue(shown), (sum[0] + 2) / 4);
    EXPECT_EQ(qRed(shown), (sum[2] + 2) / 4);
  }

  // Smoothly drawn, an area repainted alone matches the same area of a larger repaint.
  view->SetZoom(0.8);
  const QImage whole = view->grab(QRect(0, 0, 50, 300)).toImage();
  const QImage alone = view->grab(QRect(17, 101, 20, 30)).toImage();
  int mismatches = 0;
  for (int y = 0; y < 30; ++y)
    for (int x = 0; x < 20; ++x) mismatches += alone.pixel(x, y) != whole.pixel(17 + x, 101 + y);
  EXPECT_EQ(mismatches, 0);

  // The picture point under the mouse stays put while the wheel zooms.
  view->SetZoom(1);
  QScrollBar* v = form->ScrollBox1->verticalScrollBar();
  v->setValue(300);
  const QPoint mouse(20, 100);  // in the viewport
  const QPoint before = view->PicturePoint(view->mapFrom(form->ScrollBox1->viewport(), mouse));
  QWheelEvent wheel(QPointF(view->mapFrom(form->ScrollBox1->viewport(), mouse)), QPointF(),
                    QPoint(), QPoint(0, 240), Qt::NoButton, Qt::ControlModifier, Qt::NoScrollPhase,
                    false);
  QApplication::sendEvent(view, &wheel);
  EXPECT_DOUBLE_EQ(view->Zoom(), 1.25 * 1.25);
  const QPoint after = view->PicturePoint(view->mapFrom(form->ScrollBox1->viewport(), mouse));
  // (Sideways the picture is narrower than the frame, so it stays at the frame's left edge.)
  EXPECT_LE(std::abs(after.y() - before.y()), 1);
  EXPECT_EQ(before.x(), 20);

  // The shortcuts and buttons; the whole picture fits the frame, and 1:1 comes back.
  QTest::keyClick(form.get(), Qt::Key_2, Qt::ControlModifier);
  EXPECT_LE(view->height(), form->ScrollBox1->maximumViewportSize().height());
  EXPECT_LE(view->width(), form->ScrollBox1->maximumViewportSize().width());
  form->Viewer->FitWidth_Button->click();
  QApplication::processEvents();
  EXPECT_LE(view->width(), form->ScrollBox1->viewport()->width());
  EXPECT_GT(view->width(), form->ScrollBox1->viewport()->width() - 3);
  QTest::keyClick(form.get(), Qt::Key_0, Qt::ControlModifier);
  EXPECT_EQ(view->Zoom(), 1);
  QTest::keyClick(form.get(), Qt::Key_Minus, Qt::ControlModifier);
  EXPECT_DOUBLE_EQ(view->Zoom(), 1 / 1.25);
  form->Viewer->ZoomIn_Button->click();
  EXPECT_DOUBLE_EQ(view->Zoom(), 1);
  for (int i = 0; i < 40; ++i) form->Viewer->ZoomIn_Button->click();
  EXPECT_EQ(view->Zoom(), PictureView::kMaxZoom);
  EXPECT_EQ(form->Viewer->Place_Label->text(), "Zoom 3200%");
}

TEST_F(Viewer, DraggingWithTheMousePansThePicture) {
  LoadProduct();
  PictureView* view = form->Image1;
  view->SetZoom(16);
  QScrollBar* h = form->ScrollBox1->horizontalScrollBar();
  QScrollBar* v = form->ScrollBox1->verticalScrollBar();
  h->setValue(100);
  v->setValue(3000);
  const auto send = [view](QEvent::Type type, QPoint at, Qt::MouseButtons buttons) {
    QMouseEvent e(type, QPointF(at), QPointF(view->mapToGlobal(at)), Qt::LeftButton, buttons,
                  Qt::NoModifier);
    QApplication::sendEvent(view, &e);
  };
  const QPoint start(250, 3100);
  send(QEvent::MouseButtonPress, start, Qt::LeftButton);
  send(QEvent::MouseMove, start + QPoint(-40, 70), Qt::LeftButton);
  EXPECT_EQ(h->value(), 140);
  EXPECT_EQ(v->value(), 2930);
  send(QEvent::MouseButtonRelease, start + QPoint(-40, 70), Qt::NoButton);
  // Moving without the button no longer pans.
  send(QEvent::MouseMove, start + QPoint(100, 100), Qt::NoButton);
  EXPECT_EQ(h->value(), 140);
  EXPECT_EQ(v->value(), 2930);
}

TEST_F(Viewer, TheLineUnderThePictureNamesThePlaceUnderTheMouse) {
  LoadProduct();
  PictureView* view = form->Image1;
  view->SetZoom(2);
  QMouseEvent move(QEvent::MouseMove, QPointF(2 * 10 + 1, 2 * 90 + 1), QPointF(), Qt::NoButton,
                   Qt::NoButton, Qt::NoModifier);
  QApplication::sendEvent(view, &move);
  const quelmar::PicturePlace place =
      quelmar::LocatePlace(form->Product, form->DisplayedImage, form->picture, 10, 90);
  EXPECT_EQ(form->Viewer->Place_Label->text().toStdString(), quelmar::DescribePlace(place));
  EXPECT_TRUE(form->Viewer->Place_Label->text().endsWith("\nframelet 2, band 3 row 5"));
  // The strip's controls stay inside the viewer's part of the strip.
  for (QWidget* w : form->BottomStrip->findChildren<QWidget*>()) {
    if (w->parentWidget() != form->BottomStrip) continue;
    const bool zoomButton = qobject_cast<QPushButton*>(w) != nullptr &&
                            (w->toolTip().contains("Zoom") || w->toolTip().contains("Fit") ||
                             w->toolTip().contains("pixel per"));
    if (w == form->Viewer->Place_Label || zoomButton) {
      EXPECT_LE(w->geometry().right(), 480);
    }
  }
}

// Under a window manager, its title bar and borders take their part of the 45 pixels the picture
// frame's resize rule leaves below the frame: the strip then lies inside the frame, under the
// picture and above its scroll bar, every control of it in sight; the frame keeps its place
// and size, and the strip goes back below it once there is room again.
TEST_F(Viewer, TheStripStaysInSightWhereTheBandBelowThePictureIsThin) {
  LoadProduct();
  QScrollArea* frame = form->ScrollBox1;
  const QRect designed = frame->geometry();
  const auto inForm = [&](QWidget* w) {
    return QRect(w->mapTo(form.get(), QPoint(0, 0)), w->size());
  };
  const auto expectInSight = [&] {
    const QRect strip = form->BottomStrip->geometry();
    EXPECT_TRUE(form->rect().contains(strip));
    for (QWidget* w : form->BottomStrip->findChildren<QWidget*>()) {
      if (w->parentWidget() != form->BottomStrip || w->isHidden()) continue;
      QWidget* shown = form->childAt(inForm(w).center());
      EXPECT_TRUE(shown == w || w->isAncestorOf(shown)) << w->metaObject()->className();
    }
  };
  // The frame as the resize rule makes it when a window manager's frame takes 30 pixels.
  const QRect thin(designed.topLeft(), designed.size() + QSize(0, 30));
  frame->setGeometry(thin);
  form->PlaceBottomStrip();
  QApplication::processEvents();
  EXPECT_EQ(frame->geometry(), thin);
  for (const double zoom : {1.0, 16.0}) {  // then a horizontal scroll bar comes
    form->Image1->SetZoom(zoom);
    QApplication::processEvents();
    EXPECT_EQ(frame->horizontalScrollBar()->isVisible(), zoom > 1);
    const QRect strip = form->BottomStrip->geometry();
    EXPECT_TRUE(thin.contains(strip));
    EXPECT_EQ(strip.top(), inForm(frame->viewport()).bottom() + 2);
    EXPECT_FALSE(strip.intersects(inForm(frame->horizontalScrollBar())));
    expectInSight();
  }
  frame->setGeometry(designed);
  form->PlaceBottomStrip();
  QApplication::processEvents();
  EXPECT_EQ(form->BottomStrip->geometry(),
            QRect(designed.x(), designed.bottom() + 1 + TQuelmar_Form::kStripGap, designed.width(),
                  TQuelmar_Form::kStripHeight));
  EXPECT_FALSE(inForm(frame->viewport()).intersects(form->BottomStrip->geometry()));
  EXPECT_GE(inForm(frame->viewport()).bottom(), inForm(frame->horizontalScrollBar()).top() - 1);
  expectInSight();
}

TEST_F(Viewer, ADroppedProductLoadsAsTheLoadCommandDoes) {
  const std::string path = LoadProduct(3);
  const QStringList viaCommand = MemoLines();
  form->ClearMemo_Button->click();
  form->Load_Button->setFocus();
  QMimeData data;
  data.setUrls({QUrl::fromLocalFile(QString::fromStdString(path))});
  QDragEnterEvent enter(QPoint(400, 400), Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
  QApplication::sendEvent(form.get(), &enter);
  EXPECT_TRUE(enter.isAccepted());
  QDropEvent drop(QPointF(400, 400), Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
  QApplication::sendEvent(form.get(), &drop);
  EXPECT_EQ(MemoLines(), viaCommand);
  EXPECT_EQ(form->windowTitle(), "Quelmar (v1.6.1) :    M7000CE.IMG");
  // Over the message area the drop goes to the window too (the area takes none itself).
  EXPECT_FALSE(form->Memo1->acceptDrops());
  EXPECT_FALSE(form->Memo1->viewport()->acceptDrops());
  // Text that is no file is not taken.
  QMimeData text;
  text.setText("hello");
  QDragEnterEvent other(QPoint(400, 400), Qt::CopyAction, &text, Qt::LeftButton, Qt::NoModifier);
  other.ignore();
  QApplication::sendEvent(form.get(), &other);
  EXPECT_FALSE(other.isAccepted());
}

TEST_F(Viewer, CtrlOLoadsAndCtrlSSaves) {
  LoadProduct(3);
  port.ExpectOpenDialog(std::nullopt);
  QTest::keyClick(form.get(), Qt::Key_O, Qt::ControlModifier);
  port.ExpectSaveDialog(std::nullopt);
  QTest::keyClick(form.get(), Qt::Key_S, Qt::ControlModifier);
  EXPECT_TRUE(port.ScriptDone());
}

TEST_F(Viewer, TravelKeysStepWithinTheLimitsAndStackAgainWhenAStackIsShown) {
  LoadProduct(6);
  Vertical()->setFocus();
  QTest::keyClick(Vertical(), Qt::Key_Up);
  EXPECT_EQ(Vertical()->text(), "11.05");
  EXPECT_FALSE(form->DisplayedImage.Stacked);  // the raw picture stays
  QTest::keyClick(Vertical(), Qt::Key_PageDown);
  EXPECT_EQ(Vertical()->text(), "10.55");

  form->Stack_Button->click();
  ASSERT_TRUE(form->DisplayedImage.Stacked);
  const int heightBefore = form->picture.Height();
  for (int i = 0; i < 4; ++i) QTest::keyClick(Vertical(), Qt::Key_PageUp);
  EXPECT_EQ(Vertical()->text(), "12.55");
  EXPECT_EQ(form->picture.Height(), 63 + 14);  // stacked again: Round(5 x 12.55) + 14 rows
  EXPECT_GT(form->picture.Height(), heightBefore);
  EXPECT_EQ(form->Image1->Image().constBits(), form->picture.Data());
  for (int i = 0; i < 10; ++i) QTest::keyClick(Vertical(), Qt::Key_PageUp);
  EXPECT_EQ(Vertical()->text(), "14");  // the field's upper limit

  auto* horizontal = form->HorizontalOffset_LabeledNumericEdit->NumericEdit;
  QTest::keyClick(horizontal, Qt::Key_Down);
  EXPECT_EQ(horizontal->text(), "-0.05");  // no lower limit
  EXPECT_EQ(form->picture.Width(), 64);    // Round(0.05 x 5) = 0 extra columns

  // Typing is as before, and text that is no number is not stepped.
  horizontal->clear();
  QTest::keyClicks(horizontal, "x1");
  QTest::keyClick(horizontal, Qt::Key_Up);
  EXPECT_EQ(horizontal->text(), "x1");
  EXPECT_TRUE(port.ErrorReports().empty());
}

}  // namespace
