#include "controls/LabeledNumericEdit.h"

TLabeledNumericEdit::TLabeledNumericEdit(QWidget* parent) : QFrame(parent) {}
