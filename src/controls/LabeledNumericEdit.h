#pragma once
// TLabeledNumericEdit: a caption, a numeric entry box and a units caption in one small frame
// that sizes itself to enclose its parts.
#include <QFrame>
#include <QLabel>
#include <QString>

#include "controls/NumericEdit.h"

class TLabeledNumericEdit : public QFrame {
  Q_OBJECT
 public:
  // The template: Item_Label at 0,0 (52 x 13), Units_Label at 112,3 (56 x 13), NumericEdit at
  // 56,0 (47 x 21); the frame then encloses them.
  explicit TLabeledNumericEdit(QWidget* parent = nullptr);

  // The designed placement of the parts: a caption's text and width, the units caption's
  // left edge, the entry box's left edge and width. Tops stay as in the template.
  void SetItemCaption(const QString& caption, int width);
  void SetUnitsCaption(const QString& caption, int left, int width);
  void SetEditPlacement(int left, int width);

  // Shrinks or grows the frame to enclose its parts (done after every change above).
  void AutoSize();

  // The least room left between a grown caption and the entry box.
  static constexpr int kMinGap = 4;

  QLabel* Item_Label;
  QLabel* Units_Label;
  TNumericEdit* NumericEdit;

 protected:
  void changeEvent(QEvent* event) override;

 private:
  // Places the parts as designed. When the font in use needs more room for a caption than its
  // designed width, the caption grows; if it would then come closer than kMinGap pixels to the
  // box, the box and the units caption move right as far as needed, so that no text is cut
  // off or covered.
  void Relayout();

  int itemWidth_ = 52;
  int unitsLeft_ = 112;
  int unitsWidth_ = 56;
  int editLeft_ = 56;
  int editWidth_ = 47;
};
