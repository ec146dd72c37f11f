#include "controls/NumericEdit.h"

TNumericEdit::TNumericEdit(QWidget* parent) : QLineEdit(parent) {
  resize(71, 21);
  // The entry logic writes the trimmed text back through the box, so that the box and the
  // logic never disagree; that change comes back through textChanged like any other.
  entry_.OnTextWrittenBack = [this](const std::string& text) { SetEntryText(text); };
  connect(this, &QLineEdit::textChanged, this,
          [this](const QString& text) { entry_.SetText(text.toStdString()); });
  setText(QStringLiteral("0"));
}

void TNumericEdit::SetEntryText(const std::string& text) {
  setText(QString::fromStdString(text));
}
