#pragma once
// What makes the window behave as a picture viewer, beside the designed controls: the zoom
// buttons and the "where am I" line in the strip under the picture, the zoom, Load and Save
// shortcuts, loading a product dropped on the window, and keyboard steps in the travel fields.
#include <QLabel>
#include <QObject>
#include <QPoint>
#include <QPushButton>

class TQuelmar_Form;
class TNumericEdit;

class ViewerControls : public QObject {
  Q_OBJECT
 public:
  // Builds the controls into the form's bottom strip and hooks into the form; the form owns it.
  explicit ViewerControls(TQuelmar_Form* form);

  QPushButton* ZoomOut_Button;
  QPushButton* ZoomIn_Button;
  QPushButton* ActualSize_Button;
  QPushButton* FitWidth_Button;
  QPushButton* FitWhole_Button;
  QLabel* Place_Label;

  // Puts the buttons into the tab order after `previous`, in strip order; the last of them.
  QWidget* JoinTabOrder(QWidget* previous);
  // Steps a travel field as Up/Down (small) or PgUp/PgDn (large) do; true when the key is one
  // of those (the field's text changes only within its limits), then re-stacks a shown stack.
  bool StepTravelField(TNumericEdit* field, int key);

 protected:
  bool eventFilter(QObject* watched, QEvent* event) override;

 private:
  void ShowPlace(QPoint picturePixel);
  void ShowZoom();

  TQuelmar_Form* form_;
  QPoint lastPixel_{-1, -1};
};
