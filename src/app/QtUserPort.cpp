#include "app/QtUserPort.h"

#include <QApplication>
#include <QCursor>
#include <QDir>
#include <QFileDialog>
#include <QFileInfo>
#include <QMessageBox>
#include <QScrollBar>
#include <QStringDecoder>
#include <QStringList>

namespace quelmar {

QString ToQString(std::string_view text) {
  QStringDecoder decoder(QStringDecoder::Utf8, QStringDecoder::Flag::Stateless);
  const QByteArrayView bytes(text.data(), static_cast<qsizetype>(text.size()));
  QString decoded = decoder.decode(bytes);
  if (!decoder.hasError()) return decoded;
  return QString::fromLatin1(bytes);
}

QString DisplayText(std::string_view text) {
  QString shown = ToQString(text);
  shown.replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
  shown.replace(QLatin1Char('\r'), QLatin1Char('\n'));
  return shown;
}

QString DialogFilter(std::string_view filter) {
  const QStringList parts = ToQString(filter).split(QLatin1Char('|'));
  QStringList entries;
  for (qsizetype i = 0; i + 1 < parts.size(); i += 2) {
    QStringList patterns = parts[i + 1].split(QLatin1Char(';'), Qt::SkipEmptyParts);
    for (QString& p : patterns) p = p.trimmed();
    const QString description = parts[i].trimmed();
    entries << QStringLiteral("%1 (%2)").arg(description, patterns.join(QLatin1Char(' ')));
  }
  return entries.join(QStringLiteral(";;"));
}

QString DialogStart(const FileDialogRequest& request) {
  const QString folder = ToQString(request.initialFolder);
  const QString name = ToQString(request.fileName);
  if (name.isEmpty()) return folder;
  if (name.contains(QLatin1Char('/')) || name.contains(QLatin1Char('\\')) || folder.isEmpty())
    return name;
  return QDir(folder).filePath(name);
}

QtUserPort::QtUserPort(QWidget* dialogParent, QPlainTextEdit* messageArea)
    : parent_(dialogParent), memo_(messageArea) {}

QtUserPort::~QtUserPort() {
  if (busy_) QApplication::restoreOverrideCursor();
}

void QtUserPort::AppendLine(std::string_view line) {
  if (!memo_) return;
  memo_->appendPlainText(DisplayText(line));
  QScrollBar* bar = memo_->verticalScrollBar();
  bar->setValue(bar->maximum());
}

namespace {

// One modal box; the text is always plain (a "<" in a label or a path is not markup).
QMessageBox::StandardButton RunBox(QWidget* parent, QMessageBox::Icon icon, const QString& caption,
                                   std::string_view text, QMessageBox::StandardButtons buttons,
                                   QMessageBox::StandardButton defaultButton) {
  QMessageBox box(icon, caption, DisplayText(text), buttons, parent);
  box.setTextFormat(Qt::PlainText);
  box.setDefaultButton(defaultButton);
  return static_cast<QMessageBox::StandardButton>(box.exec());
}

}  // namespace

void QtUserPort::ShowMessage(std::string_view text) {
  RunBox(parent_, QMessageBox::NoIcon, QStringLiteral("Quelmar"), text, QMessageBox::Ok,
         QMessageBox::Ok);
}

bool QtUserPort::AskYesNo(std::string_view text) {
  return RunBox(parent_, QMessageBox::Question, QStringLiteral("Confirm"), text,
                QMessageBox::Yes | QMessageBox::No, QMessageBox::Yes) == QMessageBox::Yes;
}

void QtUserPort::ShowSeriousError(std::string_view text) {
  QApplication::beep();
  RunBox(parent_, QMessageBox::Critical, QStringLiteral("Error"), text,
         QMessageBox::Ok | QMessageBox::Cancel, QMessageBox::Ok);
}

void QtUserPort::ShowErrorReport(std::string_view text) {
  RunBox(parent_, QMessageBox::Critical, QStringLiteral("Quelmar"), text, QMessageBox::Ok,
         QMessageBox::Ok);
}

std::optional<std::string> QtUserPort::ChooseOpenFile(const FileDialogRequest& request) {
  QFileDialog dialog(parent_, ToQString(request.title), QString(), DialogFilter(request.filter));
  dialog.setAcceptMode(QFileDialog::AcceptOpen);
  // The dialog does not insist that the file exists: the command that asked finds out and
  // says so itself.
  dialog.setFileMode(QFileDialog::AnyFile);
  if (!request.initialFolder.empty()) dialog.setDirectory(ToQString(request.initialFolder));
  if (!request.fileName.empty()) dialog.selectFile(DialogStart(request));
  if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty()) return std::nullopt;
  return dialog.selectedFiles().constFirst().toStdString();
}

std::optional<std::string> QtUserPort::ChooseSaveFile(const FileDialogRequest& request) {
  // The picture save dialog: the proposed name only; the toolkit asks before overwriting, and
  // the name the user types is used as it is (no extension is added).
  // The bitmap comes first and is the default; a name typed while the PNG filter is chosen gets
  // the ".png" it asks for, so that the file is written in the format chosen.
  const QString pngFilter = QStringLiteral("PNG pictures (*.png)");
  QString selected;
  QString chosen = QFileDialog::getSaveFileName(
      parent_, ToQString(request.title), DialogStart(request),
      QStringLiteral("Bitmaps (*.bmp);;") + pngFilter + QStringLiteral(";;All files (*)"),
      &selected);
  if (chosen.isEmpty()) return std::nullopt;
  if (selected == pngFilter && !chosen.endsWith(QStringLiteral(".png"), Qt::CaseInsensitive)) {
    if (chosen.endsWith(QStringLiteral(".bmp"), Qt::CaseInsensitive)) chosen.chop(4);
    chosen += QStringLiteral(".png");
    // The dialog asked about the name typed, not about this one.
    if (QFileInfo::exists(chosen) &&
        QMessageBox::question(parent_, QStringLiteral("Quelmar"),
                              QFileInfo(chosen).fileName() +
                                  QStringLiteral(" already exists.\nDo you want to replace it?")) !=
            QMessageBox::Yes) {
      return std::nullopt;
    }
  }
  return chosen.toStdString();
}

void QtUserPort::SetBusyCursor(bool busy) {
  // A plain on/off switch, never a stack: switching off always brings the normal cursor back,
  // however many scopes switched it on.
  if (busy == busy_) return;
  busy_ = busy;
  if (busy)
    QApplication::setOverrideCursor(QCursor(Qt::WaitCursor));
  else
    QApplication::restoreOverrideCursor();
}

}  // namespace quelmar
