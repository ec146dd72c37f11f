#include "controls/LabeledNumericEdit.h"

#include <QEvent>
#include <QFontMetrics>
#include <algorithm>

namespace {

// Width a caption needs to show its whole text in its current font.
int NeededWidth(const QLabel* label) {
  if (label->text().isEmpty()) return 0;
  return QFontMetrics(label->font()).horizontalAdvance(label->text()) + 1;
}

}  // namespace

TLabeledNumericEdit::TLabeledNumericEdit(QWidget* parent)
    : QFrame(parent),
      Item_Label(new QLabel(QStringLiteral("Item_Label"), this)),
      Units_Label(new QLabel(QStringLiteral("Units_Label"), this)),
      NumericEdit(new TNumericEdit(this)) {
  setFrameShape(QFrame::NoFrame);
  Item_Label->setGeometry(0, 0, 52, 13);
  Units_Label->setGeometry(112, 3, 56, 13);
  NumericEdit->setGeometry(56, 0, 47, 21);
  // Tabbing into the frame lands in its entry box.
  setFocusProxy(NumericEdit);
  Relayout();
}

void TLabeledNumericEdit::SetItemCaption(const QString& caption, int width) {
  Item_Label->setText(caption);
  itemWidth_ = width;
  Relayout();
}

void TLabeledNumericEdit::SetUnitsCaption(const QString& caption, int left, int width) {
  Units_Label->setText(caption);
  unitsLeft_ = left;
  unitsWidth_ = width;
  Relayout();
}

void TLabeledNumericEdit::SetEditPlacement(int left, int width) {
  editLeft_ = left;
  editWidth_ = width;
  Relayout();
}

void TLabeledNumericEdit::Relayout() {
  const int itemWidth = std::max(itemWidth_, NeededWidth(Item_Label));
  // The caption may take part of the designed gap before the box, down to kMinGap pixels.
  const int shift = std::max(0, itemWidth + kMinGap - editLeft_);
  Item_Label->resize(itemWidth, Item_Label->height());
  NumericEdit->setGeometry(editLeft_ + shift, NumericEdit->y(), editWidth_, NumericEdit->height());
  Units_Label->setGeometry(unitsLeft_ + shift, Units_Label->y(),
                           std::max(unitsWidth_, NeededWidth(Units_Label)), Units_Label->height());
  AutoSize();
}

void TLabeledNumericEdit::AutoSize() {
  QRect bounds;
  for (const QWidget* part : {static_cast<QWidget*>(Item_Label), static_cast<QWidget*>(Units_Label),
                              static_cast<QWidget*>(NumericEdit)})
    bounds = bounds.united(part->geometry());
  // The parts never sit left of or above the frame's origin, so the frame's size is the far
  // corner of their bounds.
  resize(std::max(0, bounds.right() + 1), std::max(0, bounds.bottom() + 1));
}

void TLabeledNumericEdit::changeEvent(QEvent* event) {
  QFrame::changeEvent(event);
  if (event->type() == QEvent::FontChange) Relayout();
}
