#include "app/QuelmarForm.h"

#include <QScrollBar>

#include <QApplication>
#include <QFileInfo>
#include <QFontDatabase>
#include <QKeySequence>
#include <QMoveEvent>
#include <QResizeEvent>
#include <QShowEvent>
#include <QStyle>
#include <algorithm>
#include <exception>
#include <optional>

#include "app/FindDialog.h"
#include "app/QtUserPort.h"
#include "assembly/CameraSettings.h"
#include "assembly/PictureBuilder.h"
#include "output/SaveCommand.h"
#include "product/EdrLoader.h"
#include "util/FilePlaces.h"
#include "util/Paths.h"

using quelmar::Real;
using quelmar::TInputType;

namespace {

// Where the products were kept on the machine the window was designed on; used as the first
// folder of the product dialog when it exists here too.
const char* const kDesignedProductFolder = "D:\\Download\\Moon Project\\LRO\\LROC\\WAC";

// True when the font family is installed (a substitute would not show its metrics).
bool FamilyPresent(const QString& family) {
  return QFontDatabase::families().contains(family, Qt::CaseInsensitive);
}

// The designed window font, else the platform's user-interface font, at 11 pixels.
QFont WindowFont() {
  QFont font = FamilyPresent(QStringLiteral("MS Sans Serif"))
                   ? QFont(QStringLiteral("MS Sans Serif"))
                   : QApplication::font();
  font.setPixelSize(11);
  return font;
}

// The designed message-area font, else the platform's fixed-pitch font, at 11 pixels.
QFont MessageAreaFont() {
  QFont font = FamilyPresent(QStringLiteral("QuickType II Mono"))
                   ? QFont(QStringLiteral("QuickType II Mono"))
                   : QFontDatabase::systemFont(QFontDatabase::FixedFont);
  font.setFixedPitch(true);
  font.setStyleHint(QFont::TypeWriter);
  font.setPixelSize(11);
  return font;
}

QPushButton* MakeButton(QWidget* parent, const char* caption, QRect place, const char* hint) {
  auto* button = new QPushButton(QString::fromLatin1(caption), parent);
  button->setGeometry(place);
  button->setToolTip(QString::fromLatin1(hint));
  button->setAutoDefault(false);
  return button;
}

QCheckBox* MakeCheckBox(QWidget* parent, const char* caption, QRect place, const char* hint) {
  auto* box = new QCheckBox(QString::fromLatin1(caption), parent);
  box->setGeometry(place);
  box->setToolTip(QString::fromLatin1(hint));
  return box;
}

}  // namespace

TQuelmar_Form::TQuelmar_Form(quelmar::UserPort* port, QWidget* parent) : QWidget(parent) {
  BuildComponents();
  if (port == nullptr) {
    ownedPort_ = std::make_unique<quelmar::QtUserPort>(this, Memo1);
    port_ = ownedPort_.get();
  } else {
    port_ = port;
  }
  Colour_Controls = new ColourControls(BottomStrip, this, *port_);
  connect(Colour_Controls->Colour_CheckBox, &QCheckBox::clicked, this,
          &TQuelmar_Form::Colour_CheckBoxClick);
  // Stretch ticked or unticked restacks a colour picture shown.
  connect(Colour_Controls->Stretch_CheckBox, &QCheckBox::clicked, this, [this] {
    if (Colour_Controls->Checked()) Colour_CheckBoxClick();
  });
  ConfigureFields();
  SetTabOrder();
  ApplyFonts();
  move(kDesignedLeft, kDesignedTop);
  // The frame around the window is not known before it is shown; until then the window's own
  // area takes the designed outer size, and FitOuterSize corrects it once the frame is known.
  resize(kOuterWidth, kOuterHeight);
  PlaceBottomStrip();  // a window not yet shown gets no resize event
  FormCreate();
}

TQuelmar_Form::~TQuelmar_Form() {
  FormDestroy();
}

void TQuelmar_Form::BuildComponents() {
  // Created in tab order, so that the default focus chain already follows it.
  Load_Button = MakeButton(this, "Load", {16, 8, 57, 25},
                           "Select LROC WAC file -- PDS filename should end ***ME.IMG, ***CE.IMG, "
                           "***UE.IMG or ***VE.IMG  (WAC Engineering Data Records in IMG format)");
  Header_Button = MakeButton(this, "Header", {20, 50, 49, 25},
                             "Display text information embedded at start of IMG file ");
  SupportData_Button = MakeButton(this, "Support", {20, 84, 49, 25},
                                  "Display georeferencing data from CUMINDEX.TAB (if available)");
  Memo1 = new QPlainTextEdit(QStringLiteral("Memo1"), this);
  Memo1->setGeometry(96, 8, 633, 113);
  Memo1->setLineWrapMode(QPlainTextEdit::NoWrap);
  Memo1->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
  Memo1->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
  Memo1->setTabChangesFocus(true);
  CorrectDistortion_CheckBox = MakeCheckBox(this, "Correct distortion", {744, 16, 105, 17},
                                            "Correct geometric distortion when stacking");
  CorrectVerticalDistortion_CheckBox = MakeCheckBox(
      this, "Correct vertically", {760, 40, 97, 17},
      "Shift pixels vertically as well as horizontally (may lead to areas of no data)");
  DYRA_CalData_CheckBox =
      MakeCheckBox(this, "Add to cal file", {744, 64, 97, 17},
                   "Write DYRA calibration data to a disk file each time an image is saved");
  ClearMemo_Button = MakeButton(this, "Clear", {744, 96, 49, 25}, "Clear memo area");
  Raw_Button =
      MakeButton(this, "Raw", {16, 136, 57, 25},
                 "Display raw image consisting of time sequence of framelets, possibly inverted");
  Invert_CheckBox = MakeCheckBox(this, "Invert framelets", {88, 136, 97, 17},
                                 "Turn framelets over before \"Raw\" and \"Stack\" operations");

  VerticalOffset_LabeledNumericEdit = new TLabeledNumericEdit(this);
  VerticalOffset_LabeledNumericEdit->move(200, 136);
  HorizontalOffset_LabeledNumericEdit = new TLabeledNumericEdit(this);
  HorizontalOffset_LabeledNumericEdit->move(368, 136);
  VertCorrection_LabeledNumericEdit = new TLabeledNumericEdit(this);
  VertCorrection_LabeledNumericEdit->move(552, 136);
  BandSelection_LabeledNumericEdit = new TLabeledNumericEdit(this);
  BandSelection_LabeledNumericEdit->move(640, 136);

  Stack_Button = MakeButton(this, "Stack", {728, 136, 57, 25},
                            "Display image assembled by overlapping framelets");
  Save_Button = MakeButton(this, "Save", {800, 136, 41, 25},
                           "Save the currently displayed image in *.BMP format");
  ScrollBox1 = new PictureFrame(this);
  ScrollBox1->setGeometry(8, 168, 833, 393);
  ScrollBox1->setWidgetResizable(false);
  Image1 = new PictureView;
  ScrollBox1->setWidget(Image1);
  Image1->move(0, 0);
  BottomStrip = new QWidget(this);
  BottomStrip->setObjectName(QStringLiteral("BottomStrip"));
  connect(ScrollBox1, &PictureFrame::ViewportResized, this, &TQuelmar_Form::PlaceBottomStrip);
  Viewer = new ViewerControls(this);
  Find_Button = MakeButton(this, "Find", {800, 96, 49, 25},
                           "Find the products that show a place under a given light (Ctrl+F)");
  Find_Button->setShortcut(QKeySequence(QStringLiteral("Ctrl+F")));
  FindTravel_Button = MakeButton(BottomStrip, "Find travel", {486, 0, 74, 25},
                                 "Measure the travel from the overlap of consecutive framelets");
  FindTravel_Button->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_T));

  connect(Load_Button, &QPushButton::clicked, this, &TQuelmar_Form::Load_ButtonClick);
  connect(Header_Button, &QPushButton::clicked, this, &TQuelmar_Form::Header_ButtonClick);
  connect(SupportData_Button, &QPushButton::clicked, this, &TQuelmar_Form::SupportData_ButtonClick);
  connect(ClearMemo_Button, &QPushButton::clicked, this, &TQuelmar_Form::ClearMemo_ButtonClick);
  connect(Raw_Button, &QPushButton::clicked, this, &TQuelmar_Form::Raw_ButtonClick);
  connect(Stack_Button, &QPushButton::clicked, this, &TQuelmar_Form::Stack_ButtonClick);
  connect(Save_Button, &QPushButton::clicked, this, &TQuelmar_Form::Save_ButtonClick);
  connect(Find_Button, &QPushButton::clicked, this, &TQuelmar_Form::Find_ButtonClick);
  connect(FindTravel_Button, &QPushButton::clicked, this, &TQuelmar_Form::FindTravel_ButtonClick);
  // Check boxes react to the user's clicks (and click()), never to a program's setChecked.
  connect(Invert_CheckBox, &QCheckBox::clicked, this, &TQuelmar_Form::Invert_CheckBoxClick);
  connect(CorrectDistortion_CheckBox, &QCheckBox::clicked, this,
          &TQuelmar_Form::CorrectDistortion_CheckBoxClick);
  connect(CorrectVerticalDistortion_CheckBox, &QCheckBox::clicked, this,
          &TQuelmar_Form::CorrectVerticalDistortion_CheckBoxClick);
}

void TQuelmar_Form::ConfigureFields() {
  struct FieldDesign {
    TLabeledNumericEdit* field;
    const char* hint;
    const char* item;
    int itemWidth;
    const char* units;
    int unitsLeft, unitsWidth, editLeft, editWidth;
    const char* entryHint;
    const char* text;
    TInputType type;
    const char* min;  // nullptr: not set
    const char* max;
  };
  const FieldDesign designs[] = {
      {VerticalOffset_LabeledNumericEdit, "Number of pixels vertical motion between framelets",
       "Vertical travel:", 67, "pixels", 120, 26, 80, 33,
       "Enter a real number between 0 and 14 (typical value = 11.0)", "11", TInputType::tExtended,
       "0", "14"},
      {HorizontalOffset_LabeledNumericEdit, "Number of pixels horizotal motion between framelets",
       "Horizontal travel:", 79, "pixels", 128, 26, 88, 33,
       "Enter a real number (typical value = 0.0)", "0", TInputType::tExtended, nullptr, nullptr},
      {VertCorrection_LabeledNumericEdit, "Shift selection vertically within framelet",
       "Shift:", 24, "", 88, 3, 32, 33, "Enter a + or - small integer", "0", TInputType::tInteger,
       nullptr, nullptr},
      {BandSelection_LabeledNumericEdit,
       "Enter number of subframe (band) you want to stack (counting from top of framelet in raw "
       "image)",
       "Band:", 28, "", 96, 3, 40, 25, nullptr, "1", TInputType::tInteger, "1", nullptr},
  };
  for (const FieldDesign& d : designs) {
    TNumericEdit* edit = d.field->NumericEdit;
    edit->SetPort(port_);
    d.field->setToolTip(QString::fromLatin1(d.hint));
    d.field->SetItemCaption(QString::fromLatin1(d.item), d.itemWidth);
    d.field->SetUnitsCaption(QString::fromLatin1(d.units), d.unitsLeft, d.unitsWidth);
    d.field->SetEditPlacement(d.editLeft, d.editWidth);
    if (d.entryHint != nullptr) edit->setToolTip(QString::fromLatin1(d.entryHint));
    edit->SetInputType(d.type);
    if (d.min != nullptr) edit->SetInputMin(d.min);
    if (d.max != nullptr) edit->SetInputMax(d.max);
    edit->setText(QString::fromLatin1(d.text));
  }
}

void TQuelmar_Form::SetTabOrder() {
  QWidget* const order[] = {Load_Button,
                            Header_Button,
                            SupportData_Button,
                            Memo1,
                            CorrectDistortion_CheckBox,
                            CorrectVerticalDistortion_CheckBox,
                            DYRA_CalData_CheckBox,
                            ClearMemo_Button,
                            Raw_Button,
                            Invert_CheckBox,
                            VerticalOffset_LabeledNumericEdit->NumericEdit,
                            HorizontalOffset_LabeledNumericEdit->NumericEdit,
                            VertCorrection_LabeledNumericEdit->NumericEdit,
                            BandSelection_LabeledNumericEdit->NumericEdit,
                            Stack_Button,
                            Save_Button,
                            ScrollBox1};
  for (size_t i = 0; i + 1 < std::size(order); ++i) QWidget::setTabOrder(order[i], order[i + 1]);
  // The added controls follow, in the order they stand: the strip under the picture (zoom,
  // Find travel, colour), then Find.
  QWidget* last = Viewer->JoinTabOrder(ScrollBox1);
  QWidget::setTabOrder(last, FindTravel_Button);
  last = FindTravel_Button;
  for (QWidget* w : Colour_Controls->TabOrder()) {
    QWidget::setTabOrder(last, w);
    last = w;
  }
  QWidget::setTabOrder(last, Find_Button);
}

void TQuelmar_Form::ApplyFonts() {
  setFont(WindowFont());
  Memo1->setFont(MessageAreaFont());
  // A substitute font may be wider than the designed one: a check box grows just enough to
  // show its whole caption, and one that would then pass the window's right edge (less room
  // for a usual window border) moves left as far as needed.
  for (QCheckBox* box : {CorrectDistortion_CheckBox, CorrectVerticalDistortion_CheckBox,
                         DYRA_CalData_CheckBox, Invert_CheckBox}) {
    const int width = std::max(box->width(), CheckBoxNeededWidth(box));
    const int left = std::min(box->x(), kRightLimit - width);
    box->setGeometry(left, box->y(), width, box->height());
  }
}

int TQuelmar_Form::CheckBoxNeededWidth(const QCheckBox* box) {
  const QStyle* style = box->style();
  return style->pixelMetric(QStyle::PM_IndicatorWidth, nullptr, box) +
         style->pixelMetric(QStyle::PM_CheckBoxLabelSpacing, nullptr, box) +
         box->fontMetrics().horizontalAdvance(box->text()) + 2;
}

void TQuelmar_Form::FormCreate() {
  folder_ = quelmar::ExecutableFolder();
  IMG_file_OpenDialog.title = "Open LROC WAC EDR IMG file (*ME.IMG, *CE.IMG, *UE.IMG, *VE.IMG)";
  IMG_file_OpenDialog.filter = "*.IMG|*.IMG";
  IMG_file_OpenDialog.initialFolder = QFileInfo(QString::fromLatin1(kDesignedProductFolder)).isDir()
                                          ? kDesignedProductFolder
                                          : folder_;
  // The index dialog's title and preset name are the index lookup's own; its file is beside
  // the program, or in the user's data folder for an installed one.
  IndexFilePath = quelmar::ProgramFilePath(quelmar::FileRole::Data, "CUMINDEX.TAB");
  CalibrationFilePath =
      quelmar::ProgramFilePath(quelmar::FileRole::Data, "WAC_Images_DYRA_CalibrationData.txt");
  // Times of day are written "hh:nn:ss" (24-hour clock, two digits each); the calibration
  // record formats its time that way itself, so no process-wide setting is needed here.
  Product = quelmar::LoadedProduct{};
  SupportData.Available = false;
  ProgramTitle = "Quelmar (v1.6.1)";
  setWindowTitle(QString::fromStdString(ProgramTitle));
  CorrectVerticalDistortion_CheckBox->hide();
  VertCorrection_LabeledNumericEdit->hide();
  BandSelection_LabeledNumericEdit->hide();
  ClearMemo_Button->click();
}

void TQuelmar_Form::FormDestroy() {
  Image1->Forget();
  Product.HeaderLines.clear();
}

void TQuelmar_Form::FormResize() {
  // From the outer size, frame included; a window smaller than the frame's corner plus the
  // margins gives an empty frame, never a negative size.
  const QRect outer = frameGeometry();
  ScrollBox1->resize(std::max(0, outer.width() - ScrollBox1->x() - 20),
                     std::max(0, outer.height() - ScrollBox1->y() - 45));
  PlaceBottomStrip();
}

void TQuelmar_Form::PlaceBottomStrip() {
  // The frame's resize rule leaves 45 pixels of the outer height below it, the window manager's
  // title bar and borders included: with no frame, room for the strip; under most window
  // managers, not.
  const QRect box = ScrollBox1->geometry();
  const bool below = height() - (box.bottom() + 1) >= kStripGap + kStripHeight;
  ScrollBox1->KeepRowBelow(below ? 0 : kStripHeight + 2 * kStripInsideGap);
  if (below) {
    BottomStrip->setAutoFillBackground(false);
    BottomStrip->setGeometry(box.x(), box.bottom() + 1 + kStripGap, box.width(), kStripHeight);
    return;
  }
  const QRect view = ScrollBox1->viewport()->geometry();  // in the frame
  BottomStrip->setAutoFillBackground(true);
  BottomStrip->setGeometry(box.x() + view.x(), box.y() + view.bottom() + 1 + kStripInsideGap,
                           std::max(0, view.width()), kStripHeight);
  BottomStrip->raise();
}

void TQuelmar_Form::FitOuterSize() {
  if (outerSizeFitted_ || !isVisible()) return;
  const QRect outer = frameGeometry(), inner = geometry();
  const int dw = outer.width() - inner.width(), dh = outer.height() - inner.height();
  if (dw <= 0 && dh <= 0) return;  // no frame (yet): the window's area is the outer size
  outerSizeFitted_ = true;
  resize(std::max(1, kOuterWidth - dw), std::max(1, kOuterHeight - dh));
}

void TQuelmar_Form::resizeEvent(QResizeEvent* event) {
  QWidget::resizeEvent(event);
  FitOuterSize();
  FormResize();
}

void TQuelmar_Form::moveEvent(QMoveEvent* event) {
  QWidget::moveEvent(event);
  FitOuterSize();
  FormResize();
}

void TQuelmar_Form::showEvent(QShowEvent* event) {
  QWidget::showEvent(event);
  FitOuterSize();
  FormResize();
}

void TQuelmar_Form::RunCommand(const std::function<void()>& command) {
  try {
    command();
  } catch (const std::exception& e) {
    port_->ShowErrorReport(e.what());
  } catch (...) {
    port_->ShowErrorReport("The command ended with an unexpected error.");
  }
}

std::string TQuelmar_Form::SettingsPath() {
  return quelmar::ProgramFilePath(quelmar::FileRole::Settings, quelmar::kSettingsFileName);
}

void TQuelmar_Form::ShowImage(bool invert, bool stacked, Real verticalTravel, Real horizontalTravel,
                              const quelmar::TravelProfile& profile) {
  quelmar::PictureRequest request;
  request.Invert = invert;
  request.Stacked = stacked;
  request.VerticalTravel = verticalTravel;
  request.HorizontalTravel = horizontalTravel;
  request.Profile = profile;
  request.CorrectDistortion = CorrectDistortion_CheckBox->isChecked();
  request.CorrectVertically = CorrectVerticalDistortion_CheckBox->isChecked();
  request.ReadBand = [this] {
    return BandSelection_LabeledNumericEdit->NumericEdit->GetIntegerValue();
  };
  request.ReadShift = [this] {
    return VertCorrection_LabeledNumericEdit->NumericEdit->GetIntegerValue();
  };
  request.SettingsPath = SettingsPath();
  const QSize before(picture.Width(), picture.Height());
  colourShown_ = false;
  quelmar::DisplayOutcome outcome;
  try {
    outcome = quelmar::DisplayImage(Product, request, *port_, DisplayedImage, picture);
  } catch (...) {
    // The picture may have been rebuilt elsewhere in memory before the error: the view must
    // never keep pointing at the old bytes.
    Image1->ShowPicture(picture);
    throw;
  }
  Image1->ShowPicture(picture);
  // A picture of another size (another product, raw after stacked...) is shown from its top left
  // corner; the same size again (another band, other options) keeps the place being looked at.
  if (before != QSize(picture.Width(), picture.Height())) {
    ScrollBox1->horizontalScrollBar()->setValue(0);
    ScrollBox1->verticalScrollBar()->setValue(0);
  }
  if (outcome == quelmar::DisplayOutcome::NoImage) Load_Button->setFocus();
}

void TQuelmar_Form::PrepareFields(int32_t bandCount) {
  TNumericEdit* band = BandSelection_LabeledNumericEdit->NumericEdit;
  if (band->GetIntegerValue() > bandCount) band->setText(QStringLiteral("1"));
  if (bandCount == 7 && band->GetIntegerValue() < 3) band->setText(QStringLiteral("3"));
  band->SetInputMax(quelmar::FormatInt(bandCount));
  band->setToolTip(QStringLiteral("Enter an integer between 1 and ") +
                   QString::fromStdString(band->InputMax()));
  BandSelection_LabeledNumericEdit->setVisible(bandCount > 1);
  VerticalOffset_LabeledNumericEdit->NumericEdit->setText(bandCount == 2 ? QStringLiteral("2.15")
                                                                         : QStringLiteral("11"));
}

void TQuelmar_Form::Load_ButtonClick() {
  RunCommand([this] {
    const std::optional<std::string> path = port_->ChooseOpenFile(IMG_file_OpenDialog);
    if (path) LoadProductFile(*path);
  });
}

void TQuelmar_Form::LoadProductFile(const std::string& path) {
  RunCommand([this, &path] {
    SupportData.Available = false;
    const quelmar::LoadOutcome outcome = quelmar::LoadEdrProduct(
        path, Product, *port_, [this](int32_t bandCount) { PrepareFields(bandCount); });
    if (outcome == quelmar::LoadOutcome::NoHeader) return;
    LastProductFolder = quelmar::SplitPath(path).folder;
    Colour_Controls->PrepareFor(Product);
    if (outcome == quelmar::LoadOutcome::ImageRead) Raw_Button->setFocus();
    setWindowTitle(QString::fromStdString(ProgramTitle) + QStringLiteral(" :    ") +
                   quelmar::ToQString(quelmar::FileNameOf(path)));
    Raw_Button->click();
  });
}

void TQuelmar_Form::Find_ButtonClick() {
  FindDialog dialog(this);
  dialog.exec();
}

void TQuelmar_Form::Header_ButtonClick() {
  RunCommand([this] { quelmar::HeaderCommand(Product, *port_); });
}

void TQuelmar_Form::SupportData_ButtonClick() {
  RunCommand(
      [this] { quelmar::SupportCommand(Product.ProductId, IndexFilePath, SupportData, *port_); });
}

void TQuelmar_Form::ClearMemo_ButtonClick() {
  RunCommand([this] { Memo1->clear(); });
}

void TQuelmar_Form::Raw_ButtonClick() {
  RunCommand([this] {
    ShowImage(Invert_CheckBox->isChecked(), false, static_cast<Real>(Product.FrameletHeight), 0);
  });
}

void TQuelmar_Form::Invert_CheckBoxClick() {
  RunCommand([this] {
    Raw_Button->click();
    Raw_Button->setFocus();
  });
}

void TQuelmar_Form::Stack_ButtonClick() {
  RunCommand([this] {
    // Vertical first, then horizontal: their messages come in that order.
    const Real vertical = VerticalOffset_LabeledNumericEdit->NumericEdit->GetExtendedValue();
    const Real horizontal = HorizontalOffset_LabeledNumericEdit->NumericEdit->GetExtendedValue();
    if (ColourWanted()) {
      ShowColourImage(vertical, horizontal);
      return;
    }
    ShowImage(Invert_CheckBox->isChecked(), true, vertical, horizontal);
  });
}

void TQuelmar_Form::Colour_CheckBoxClick() {
  RunCommand([this] {
    if (Product.HasImage()) Stack_Button->click();
  });
}

bool TQuelmar_Form::ColourWanted() const {
  return Colour_Controls->Checked() && Product.BandCount >= 3;
}

void TQuelmar_Form::ShowColourImage(Real verticalTravel, Real horizontalTravel,
                                    const quelmar::TravelProfile& profile) {
  quelmar::ColourRequest request;
  request.Bands = Colour_Controls->ReadBands();
  request.VerticalTravel = verticalTravel;
  request.HorizontalTravel = horizontalTravel;
  request.Invert = Invert_CheckBox->isChecked();
  request.CorrectDistortion = CorrectDistortion_CheckBox->isChecked();
  request.CorrectVertically =
      request.CorrectDistortion && CorrectVerticalDistortion_CheckBox->isChecked();
  if (request.CorrectVertically)
    request.Shift = VertCorrection_LabeledNumericEdit->NumericEdit->GetIntegerValue();
  request.SettingsPath = SettingsPath();
  request.Stretch = Colour_Controls->Stretch();
  request.Profile = profile;
  const QSize before(picture.Width(), picture.Height());
  // Into the picture shown, as a stack is built: its memory is used again.
  quelmar::ColourResult result;
  try {
    result = quelmar::BuildColourComposite(Product, request, *port_, picture);
  } catch (...) {
    // As for a stack: the view must never keep pointing at bytes moved elsewhere.
    Image1->ShowPicture(picture);
    throw;
  }
  Image1->ShowPicture(picture);
  if (before != QSize(picture.Width(), picture.Height())) {
    ScrollBox1->horizontalScrollBar()->setValue(0);
    ScrollBox1->verticalScrollBar()->setValue(0);
  }
  // Save proposes <PRODUCT_ID>_<wlR>_<wlG>_<wlB>nm.bmp from the record of what is shown.
  DisplayedImage.Wavelength =
      result.Wavelengths[0] + "_" + result.Wavelengths[1] + "_" + result.Wavelengths[2];
  DisplayedImage.VStep = verticalTravel;
  DisplayedImage.HStep = horizontalTravel;
  DisplayedImage.Stacked = true;
  DisplayedImage.UvBand = false;
  DisplayedImage.Inverted = request.Invert;
  colourShown_ = true;
  port_->AppendLine("Colour picture on the grid of band " + std::to_string(result.Reference) + ":");
  for (const std::string& line : quelmar::RegistrationLines(result)) port_->AppendLine(line);
  if (request.Stretch.Enabled) {
    port_->AppendLine(
        "Enhanced colour: each channel stretched between its 1st and 99th percentiles");
  }
  port_->AppendLine("");
}

void TQuelmar_Form::Save_ButtonClick() {
  RunCommand([this] {
    quelmar::CalibrationContext context{Product.ProductId, Product.FrameletCount,
                                        DisplayedImage,    IndexFilePath,
                                        SupportData,       CalibrationFilePath};
    if (colourShown_) {
      quelmar::SaveCommand(picture, false, context, *port_);
      if (DYRA_CalData_CheckBox->isChecked())
        port_->AppendLine("No calibration record is written for a colour picture");
      return;
    }
    quelmar::SaveCommand(picture, DYRA_CalData_CheckBox->isChecked(), context, *port_);
  });
}

void TQuelmar_Form::CorrectDistortion_CheckBoxClick() {
  RunCommand([this] {
    if (CorrectDistortion_CheckBox->isChecked()) {
      CorrectVerticalDistortion_CheckBox->show();
      if (CorrectVerticalDistortion_CheckBox->isChecked())
        VertCorrection_LabeledNumericEdit->show();
    } else {
      CorrectVerticalDistortion_CheckBox->hide();
      VertCorrection_LabeledNumericEdit->hide();
    }
  });
}

void TQuelmar_Form::CorrectVerticalDistortion_CheckBoxClick() {
  RunCommand([this] {
    VertCorrection_LabeledNumericEdit->setVisible(CorrectVerticalDistortion_CheckBox->isChecked());
  });
}
