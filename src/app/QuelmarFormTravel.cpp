// The Find travel command of the window: a thin caller of MeasureTravel.
#include "app/QuelmarForm.h"

#include <utility>
#include "assembly/ColourComposite.h"
#include "assembly/TravelFinder.h"
#include "util/Numbers.h"

void TQuelmar_Form::FindTravel_ButtonClick() {
  RunCommand([this] {
    quelmar::StripGeometry geometry;
    geometry.Invert = Invert_CheckBox->isChecked();
    geometry.CorrectDistortion = CorrectDistortion_CheckBox->isChecked();
    geometry.CorrectVertically =
        geometry.CorrectDistortion && CorrectVerticalDistortion_CheckBox->isChecked();
    geometry.SettingsPath = SettingsPath();
    quelmar::TravelEstimate estimate;
    if (!Product.HasImage()) {
      estimate.Band = 1;
      estimate.Reason = "no image data is loaded";
    } else {
      // With "Colour" ticked, the band the colour picture's travel is measured on (its travel is
      // the visible bands'); otherwise the band shown.
      if (ColourWanted()) {
        quelmar::ColourRequest colour;
        colour.Bands = Colour_Controls->ReadBands();
        geometry.Band =
            quelmar::ColourTravelBand(Product, quelmar::ChooseColourBands(Product, colour));
      } else {
        geometry.Band = BandSelection_LabeledNumericEdit->NumericEdit->GetIntegerValue();
      }
      if (geometry.CorrectVertically)
        geometry.Shift = VertCorrection_LabeledNumericEdit->NumericEdit->GetIntegerValue();
      quelmar::BusyCursor busy(*port_);
      estimate = quelmar::MeasureTravel(Product, geometry, *port_);
    }
    port_->AppendLine(quelmar::TravelMessage(estimate));
    if (!estimate.Found) {
      port_->AppendLine("");
      return;
    }
    const auto fixed = [](quelmar::Real x) {
      return QString::fromStdString(quelmar::FormatFixed(x, 3));
    };
    // The narrow fields show a measured value from its first digit (the message line has it
    // whole).
    for (auto [field, value] :
         {std::pair{VerticalOffset_LabeledNumericEdit, estimate.Vertical},
          std::pair{HorizontalOffset_LabeledNumericEdit, estimate.Horizontal}}) {
      field->NumericEdit->setText(fixed(value));
      field->NumericEdit->setCursorPosition(0);
    }
    if (estimate.Varies()) {
      const std::string range = "vertical " + quelmar::FormatFixed(estimate.VerticalMin, 3) +
                                " to " + quelmar::FormatFixed(estimate.VerticalMax, 3) +
                                ", horizontal " + quelmar::FormatFixed(estimate.HorizontalMin, 3) +
                                " to " + quelmar::FormatFixed(estimate.HorizontalMax, 3) +
                                " pixels";
      port_->AppendLine("The travel varies along the product: " + range);
      if (port_->AskYesNo("The travel varies along the product (" + range +
                          ").\nStack each framelet by the travel measured beside it?")) {
        port_->AppendLine("Stacked with the measured travel profile");
        port_->AppendLine("");
        if (ColourWanted()) {
          ShowColourImage(estimate.Vertical, estimate.Horizontal, quelmar::ProfileOf(estimate));
        } else {
          ShowImage(geometry.Invert, true, estimate.Vertical, estimate.Horizontal,
                    quelmar::ProfileOf(estimate));
        }
        return;
      }
    }
    port_->AppendLine("");
    Stack_Button->click();
  });
}
