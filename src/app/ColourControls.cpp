#include "app/ColourControls.h"

#include <QKeySequence>
#include <QShortcut>
#include <algorithm>

#include "util/Numbers.h"

namespace {

// A check box of the strip, clicked by `keys` on `window` too while it is enabled.
QCheckBox* KeyedCheckBox(QWidget* strip, QWidget* window, const char* text, const char* name,
                         const QRect& place, const QString& hint, const char* keys) {
  auto* box = new QCheckBox(QString::fromLatin1(text), strip);
  box->setObjectName(QString::fromLatin1(name));
  box->setGeometry(place);
  box->setToolTip(hint);
  auto* shortcut = new QShortcut(QKeySequence(QString::fromLatin1(keys)), window);
  QObject::connect(shortcut, &QShortcut::activated, box, [box] {
    if (box->isEnabled()) box->click();
  });
  return box;
}

}  // namespace

ColourControls::ColourControls(QWidget* strip, QWidget* window, quelmar::UserPort& port)
    : QObject(strip) {
  Colour_CheckBox =
      KeyedCheckBox(strip, window, "Colour", "Colour_CheckBox", {566, 4, 62, 17},
                    QStringLiteral("Stack three bands registered into one colour picture (red: "
                                   "the longest wavelength, blue: the shortest) (Ctrl+L)"),
                    "Ctrl+L");
  Bands_Label = new QLabel(QStringLiteral("Bands:"), strip);
  Bands_Label->setGeometry(632, 4, 40, 17);
  static const char* const kHints[] = {"Band shown in red", "Band shown in green",
                                       "Band shown in blue"};
  static const char* const kNames[] = {"ColourRed_Edit", "ColourGreen_Edit", "ColourBlue_Edit"};
  for (size_t c = 0; c < 3; ++c) {
    auto* edit = new TNumericEdit(strip);
    edit->setObjectName(QString::fromLatin1(kNames[c]));
    edit->setGeometry(674 + 30 * static_cast<int>(c), 1, 26, 22);
    edit->SetPort(&port);
    edit->SetInputType(quelmar::TInputType::tInteger);
    edit->SetInputMin("1");
    edit->SetInputMax("7");
    edit->setToolTip(QString::fromLatin1(kHints[c]));
    edit->setText(QString::number(7 - 2 * static_cast<int>(c)));
    Band_Edits[c] = edit;
  }
  Stretch_CheckBox =
      KeyedCheckBox(strip, window, "Stretch", "ColourStretch_CheckBox", {762, 4, 70, 17},
                    QStringLiteral("Enhanced colour: each channel stretched so that its 1st and "
                                   "99th percentiles become black and white (Ctrl+E)"),
                    "Ctrl+E");
  // The stretch belongs to a colour picture: it is there to tick while "Colour" is ticked.
  Stretch_CheckBox->setEnabled(false);
  connect(Colour_CheckBox, &QCheckBox::toggled, this,
          [this](bool on) { Stretch_CheckBox->setEnabled(on && Colour_CheckBox->isEnabled()); });
}

std::array<QWidget*, 5> ColourControls::TabOrder() const {
  return {Colour_CheckBox, Band_Edits[0], Band_Edits[1], Band_Edits[2], Stretch_CheckBox};
}

quelmar::ColourStretch ColourControls::Stretch() const {
  quelmar::ColourStretch stretch;
  stretch.Enabled = Stretched();
  return stretch;  // the default percentiles, 1 and 99
}

void ColourControls::PrepareFor(const quelmar::LoadedProduct& product) {
  const int32_t count = std::min(product.BandCount, 7);
  const bool usable = count >= 3;
  for (QWidget* w : TabOrder()) w->setEnabled(usable);
  Stretch_CheckBox->setEnabled(usable && Checked());
  Bands_Label->setEnabled(usable);
  if (!usable) return;
  // The bands of 689, 604 and 415 nm, or the product's last three.
  const std::optional<std::array<int32_t, 3>> bands = quelmar::DefaultColourBands(product);
  for (size_t c = 0; c < 3; ++c) {
    const int32_t band = bands ? (*bands)[c] : count - static_cast<int32_t>(c);
    Band_Edits[c]->SetInputMax(quelmar::FormatInt(count));
    Band_Edits[c]->setToolTip(QStringLiteral("%1: an integer between 1 and %2")
                                  .arg(QString::fromLatin1(c == 0   ? "Band shown in red"
                                                           : c == 1 ? "Band shown in green"
                                                                    : "Band shown in blue"))
                                  .arg(count));
    Band_Edits[c]->setText(QString::number(band));
  }
}

std::array<int32_t, 3> ColourControls::ReadBands() {
  return {Band_Edits[0]->GetIntegerValue(), Band_Edits[1]->GetIntegerValue(),
          Band_Edits[2]->GetIntegerValue()};
}
