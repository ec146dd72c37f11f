#pragma once
// The window's colour controls, in the strip under the picture: a "Colour" check box and three
// band fields (red, green, blue). With the box ticked, Stack combines the three bands into one
// colour picture; Save then proposes "<PRODUCT_ID>_<wlR>_<wlG>_<wlB>nm.bmp". With "Stretch"
// ticked too (it can be while "Colour" is), the picture is enhanced colour: each channel
// stretched between its percentiles.
#include <QCheckBox>
#include <QLabel>
#include <QObject>
#include <array>

#include "assembly/ColourComposite.h"
#include "controls/NumericEdit.h"
#include "product/LoadedProduct.h"
#include "util/UserPort.h"

class ColourControls : public QObject {
  Q_OBJECT
 public:
  // Builds the controls in `strip` (x 566 to 832 of the strip); Ctrl+L on `window` clicks the
  // "Colour" box, Ctrl+E the "Stretch" box.
  ColourControls(QWidget* strip, QWidget* window, quelmar::UserPort& port);

  QCheckBox* Colour_CheckBox;
  QLabel* Bands_Label;
  std::array<TNumericEdit*, 3> Band_Edits;  // red, green, blue
  QCheckBox* Stretch_CheckBox;

  // The controls in tab order.
  std::array<QWidget*, 5> TabOrder() const;
  // After a load: the bands of 689, 604 and 415 nm (or the product's last three), limits 1 to
  // the band count; the controls are enabled only for products of three bands or more.
  void PrepareFor(const quelmar::LoadedProduct& product);
  bool Checked() const { return Colour_CheckBox->isChecked(); }
  bool Stretched() const { return Stretch_CheckBox->isChecked(); }
  // The stretch the window asks for: each channel's 1st and 99th percentiles become 0 and 255.
  quelmar::ColourStretch Stretch() const;
  // The three fields' validated values (their messages for an invalid entry, in field order).
  std::array<int32_t, 3> ReadBands();
};
