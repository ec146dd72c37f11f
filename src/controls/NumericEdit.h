#pragma once
#include <QLineEdit>

class TNumericEdit : public QLineEdit {
  Q_OBJECT
 public:
  explicit TNumericEdit(QWidget* parent = nullptr);
};
