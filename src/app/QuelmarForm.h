#pragma once
// TQuelmar_Form: the program's one window. It owns all state of a run (the loaded product, the
// picture and what it shows, the support data and the file paths) and the command handlers;
// each handler reads its controls, calls the core and writes back.
#include <QCheckBox>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QScrollArea>
#include <QWidget>
#include <functional>
#include <memory>
#include <string>

#include "app/ColourControls.h"
#include "app/PictureFrame.h"
#include "app/PictureView.h"
#include "app/ViewerControls.h"
#include "assembly/DisplayedImage.h"
#include "assembly/Picture.h"
#include "assembly/TravelProfile.h"
#include "controls/LabeledNumericEdit.h"
#include "product/LoadedProduct.h"
#include "support/IndexLookup.h"
#include "util/Numbers.h"
#include "util/UserPort.h"

class TQuelmar_Form : public QWidget {
  Q_OBJECT
 public:
  // With no port the window makes its own, which shows lines in Memo1 and uses message boxes
  // and file dialogs; tests pass a scripted one.
  explicit TQuelmar_Form(quelmar::UserPort* port = nullptr, QWidget* parent = nullptr);
  ~TQuelmar_Form() override;

  quelmar::UserPort& Port() { return *port_; }

  // Components, in the designed declaration order.
  QPushButton* Load_Button;
  quelmar::FileDialogRequest IMG_file_OpenDialog;
  TLabeledNumericEdit* VerticalOffset_LabeledNumericEdit;
  TLabeledNumericEdit* HorizontalOffset_LabeledNumericEdit;
  QPushButton* Raw_Button;
  QPushButton* Stack_Button;
  PictureView* Image1;
  QCheckBox* Invert_CheckBox;
  QPushButton* Save_Button;
  QPushButton* ClearMemo_Button;
  QPushButton* Header_Button;
  QPlainTextEdit* Memo1;
  PictureFrame* ScrollBox1;
  TLabeledNumericEdit* BandSelection_LabeledNumericEdit;
  QPushButton* SupportData_Button;
  QCheckBox* DYRA_CalData_CheckBox;
  QCheckBox* CorrectDistortion_CheckBox;
  TLabeledNumericEdit* VertCorrection_LabeledNumericEdit;
  QCheckBox* CorrectVerticalDistortion_CheckBox;

  // The strip under the picture that holds the controls added to the designed ones (zoom,
  // position readout, travel finding, colour). It follows the picture frame's lower edge and
  // never covers a designed control: below the frame where the window leaves room for it there,
  // else inside the frame, in a row the frame keeps free under the picture.
  QWidget* BottomStrip;
  // The zoom buttons and the "where am I" line in the strip, with the viewer's shortcuts.
  ViewerControls* Viewer;
  // Beside Clear: the products of the index that show a place, under a given light (Ctrl+F).
  QPushButton* Find_Button;
  // In the strip: measures the travel of the band from the overlap of consecutive framelets.
  QPushButton* FindTravel_Button;
  // The "Colour" check box and its three band fields, in the strip.
  ColourControls* Colour_Controls;

  // State of the run.
  std::string ProgramTitle;
  quelmar::LoadedProduct Product;
  quelmar::DisplayedImageInfo DisplayedImage;
  quelmar::Picture picture;
  quelmar::SupportDataInfo SupportData;
  std::string IndexFilePath;
  std::string CalibrationFilePath;
  std::string LastProductFolder;  // folder of the last product loaded; empty before any

  // Command handlers (each runs under one top-level error report).
  void Load_ButtonClick();
  void Header_ButtonClick();
  void SupportData_ButtonClick();
  void ClearMemo_ButtonClick();
  void Raw_ButtonClick();
  void Invert_CheckBoxClick();
  void Stack_ButtonClick();
  void Save_ButtonClick();
  void CorrectDistortion_CheckBoxClick();
  void CorrectVerticalDistortion_CheckBoxClick();
  void Find_ButtonClick();
  // Measures the travel, writes it into the travel fields and stacks (QuelmarFormTravel.cpp).
  void FindTravel_ButtonClick();
  void Colour_CheckBoxClick();

  // The Load command for a product already chosen (from the dialog, the command line, a drop or
  // a search result): the same report, fields, caption and raw picture whichever way it starts.
  void LoadProductFile(const std::string& path);

  // Window events.
  void FormCreate();
  void FormDestroy();
  void FormResize();

  // The load command's preparation of the band and vertical travel fields for a product with
  // `bandCount` bands.
  void PrepareFields(int32_t bandCount);

  // Runs one command: an error that escapes it is shown in one error box and the program goes
  // on with what was done so far.
  void RunCommand(const std::function<void()>& command);

  static constexpr int kDesignedLeft = 53;
  static constexpr int kDesignedTop = 103;
  static constexpr int kOuterWidth = 878;
  static constexpr int kOuterHeight = 607;
  // No control reaches past this column (the outer width less room for a window border).
  static constexpr int kRightLimit = kOuterWidth - 10;
  // Height of the strip under the picture, and its gap below the picture frame.
  static constexpr int kStripHeight = 25;
  static constexpr int kStripGap = 4;

  // Width a check box needs to show its indicator and its whole caption in its font.
  static int CheckBoxNeededWidth(const QCheckBox* box);

  // Puts the strip below the picture frame, or inside it where the band below the frame is too
  // thin (a window manager's title bar and borders take their part of the outer height the
  // frame's size follows). Runs on every resize of the window or of the frame's picture area.
  void PlaceBottomStrip();
  // Pixels between the strip and the picture inside the frame, above and below it.
  static constexpr int kStripInsideGap = 1;

 protected:
  void resizeEvent(QResizeEvent* event) override;
  void moveEvent(QMoveEvent* event) override;
  void showEvent(QShowEvent* event) override;

 private:
  void BuildComponents();
  void ConfigureFields();
  void SetTabOrder();
  void ApplyFonts();
  void ShowImage(bool invert, bool stacked, quelmar::Real verticalTravel,
                 quelmar::Real horizontalTravel, const quelmar::TravelProfile& profile = {});
  void FitOuterSize();
  // The settings file every picture reads: beside the program, else in the user's folder.
  static std::string SettingsPath();
  // Stack with "Colour" ticked: the three bands' colour picture, shown and recorded for Save.
  // With a profile, each framelet placed by the travels measured between its pairs.
  void ShowColourImage(quelmar::Real verticalTravel, quelmar::Real horizontalTravel,
                       const quelmar::TravelProfile& profile = {});
  // "Colour" ticked, for a product of three bands or more: Stack shows a colour picture.
  bool ColourWanted() const;

  std::unique_ptr<quelmar::UserPort> ownedPort_;
  quelmar::UserPort* port_ = nullptr;
  std::string folder_;
  bool outerSizeFitted_ = false;
  bool colourShown_ = false;  // the picture is a colour picture: Save writes no calibration
};
