#include "controls/NumericEdit.h"

TNumericEdit::TNumericEdit(QWidget* parent) : QLineEdit(parent) {}
