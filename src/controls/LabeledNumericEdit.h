#pragma once
#include <QFrame>

class TLabeledNumericEdit : public QFrame {
  Q_OBJECT
 public:
  explicit TLabeledNumericEdit(QWidget* parent = nullptr);
};
