// The picture save dialog: the bitmap first and chosen, PNG offered, and a name typed while the
// PNG filter is chosen saved as ".png" (asking before that file is replaced).
#include <gtest/gtest.h>

#include <QAbstractButton>
#include <QApplication>
#include <QFileDialog>
#include <QMessageBox>
#include <QTimer>
#include <functional>

#include "app/QtUserPort.h"
#include "support/TestFiles.h"

using quelmar::testing::TempDir;
using quelmar::testing::WriteFileBytes;

namespace {

// Runs `choose` on the next modal file dialog, then `answer` on a box that may follow.
std::optional<std::string> Save(const std::function<void(QFileDialog*)>& choose,
                                QMessageBox::StandardButton answer = QMessageBox::NoButton,
                                bool* asked = nullptr) {
  quelmar::QtUserPort port(nullptr, nullptr);
  quelmar::FileDialogRequest request;
  request.fileName = "M1CE_415nm.bmp";
  QTimer::singleShot(0, [&] {
    auto* dialog = qobject_cast<QFileDialog*>(QApplication::activeModalWidget());
    if (dialog == nullptr) return;
    QTimer::singleShot(0, [&] {
      auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
      if (box == nullptr) return;
      if (asked != nullptr) *asked = true;
      box->button(answer)->click();
    });
    choose(dialog);
  });
  return port.ChooseSaveFile(request);
}

TEST(SaveDialog, OffersPngAfterTheDefaultBitmapAndGivesPngNamesTheirExtension) {
  TempDir dir;
  const QString base = QString::fromStdString(dir.File("crater"));
  QStringList filters;
  QString first;
  std::optional<std::string> chosen = Save([&](QFileDialog* d) {
    filters = d->nameFilters();
    first = d->selectedNameFilter();
    d->selectFile(base + ".bmp");
    static_cast<QDialog*>(d)->accept();
  });
  EXPECT_EQ(filters, QStringList({"Bitmaps (*.bmp)", "PNG pictures (*.png)", "All files (*)"}));
  EXPECT_EQ(first, "Bitmaps (*.bmp)");
  EXPECT_EQ(chosen, dir.File("crater.bmp"));

  chosen = Save([&](QFileDialog* d) {
    d->selectNameFilter("PNG pictures (*.png)");
    d->selectFile(base);
    static_cast<QDialog*>(d)->accept();
  });
  EXPECT_EQ(chosen, dir.File("crater.png"));

  // The ".png" name already there: asked about, and kept on No.
  WriteFileBytes(dir.File("crater.png"), "mine");
  bool asked = false;
  chosen = Save(
      [&](QFileDialog* d) {
        d->selectNameFilter("PNG pictures (*.png)");
        d->selectFile(base);
        static_cast<QDialog*>(d)->accept();
      },
      QMessageBox::No, &asked);
  EXPECT_TRUE(asked);
  EXPECT_EQ(chosen, std::nullopt);
}

}  // namespace
