#include "app/ViewerControls.h"

#include <QDragEnterEvent>
#include <QDropEvent>
#include <QKeyEvent>
#include <QKeySequence>
#include <QMimeData>
#include <QShortcut>
#include <QUrl>
#include <cmath>
#include <optional>

#include "app/QuelmarForm.h"
#include "assembly/PicturePlace.h"
#include "controls/FieldStep.h"

namespace {

QPushButton* StripButton(QWidget* strip, const char* caption, int left, int width,
                         const char* hint) {
  auto* button = new QPushButton(QString::fromUtf8(caption), strip);
  button->setGeometry(left, 0, width, TQuelmar_Form::kStripHeight);
  button->setToolTip(QString::fromLatin1(hint));
  button->setAutoDefault(false);
  return button;
}

// The first local file of a drag, if it carries one.
std::optional<QString> DraggedFile(const QMimeData* data) {
  if (data == nullptr || !data->hasUrls()) return std::nullopt;
  for (const QUrl& url : data->urls()) {
    if (url.isLocalFile()) return url.toLocalFile();
  }
  return std::nullopt;
}

}  // namespace

ViewerControls::ViewerControls(TQuelmar_Form* form) : QObject(form), form_(form) {
  QWidget* strip = form->BottomStrip;
  // Strip x 0..480: five small buttons, then the status line.
  ZoomOut_Button = StripButton(strip, "-", 0, 22, "Zoom out (Ctrl+-, or Ctrl+wheel)");
  ZoomIn_Button = StripButton(strip, "+", 24, 22, "Zoom in (Ctrl++, or Ctrl+wheel)");
  ActualSize_Button =
      StripButton(strip, "1:1", 48, 28, "One screen pixel per picture pixel (Ctrl+0)");
  FitWidth_Button =
      StripButton(strip, "Width", 78, 40, "Fit the picture's width in the frame (Ctrl+1)");
  FitWhole_Button =
      StripButton(strip, "Whole", 120, 40, "Fit the whole picture in the frame (Ctrl+2)");
  Place_Label = new QLabel(strip);
  Place_Label->setObjectName(QStringLiteral("Place_Label"));
  Place_Label->setGeometry(166, 0, 480 - 166, TQuelmar_Form::kStripHeight);
  // Two lines fit the strip's height at 10 pixels.
  QFont small = Place_Label->font();
  small.setPixelSize(10);
  Place_Label->setFont(small);
  Place_Label->setToolTip(QStringLiteral(
      "Picture row and column under the mouse; for raw framelets also the framelet, the band "
      "row and the sample value"));

  PictureView* view = form->Image1;
  connect(ZoomOut_Button, &QPushButton::clicked, view, [view] { view->ZoomOut(); });
  connect(ZoomIn_Button, &QPushButton::clicked, view, [view] { view->ZoomIn(); });
  connect(ActualSize_Button, &QPushButton::clicked, view, &PictureView::ActualSize);
  connect(FitWidth_Button, &QPushButton::clicked, view, &PictureView::FitWidth);
  connect(FitWhole_Button, &QPushButton::clicked, view, &PictureView::FitWhole);
  connect(view, &PictureView::MouseOverPicture, this, &ViewerControls::ShowPlace);
  connect(view, &PictureView::ZoomChanged, this, &ViewerControls::ShowZoom);

  const auto shortcut = [form](const QKeySequence& keys, auto action) {
    auto* s = new QShortcut(keys, form);
    s->setContext(Qt::WindowShortcut);
    QObject::connect(s, &QShortcut::activated, form, action);
  };
  shortcut(QKeySequence(Qt::CTRL | Qt::Key_Plus), [view] { view->ZoomIn(); });
  shortcut(QKeySequence(Qt::CTRL | Qt::Key_Equal), [view] { view->ZoomIn(); });
  shortcut(QKeySequence(Qt::CTRL | Qt::Key_Minus), [view] { view->ZoomOut(); });
  shortcut(QKeySequence(Qt::CTRL | Qt::Key_0), [view] { view->ActualSize(); });
  shortcut(QKeySequence(Qt::CTRL | Qt::Key_1), [view] { view->FitWidth(); });
  shortcut(QKeySequence(Qt::CTRL | Qt::Key_2), [view] { view->FitWhole(); });
  shortcut(QKeySequence(Qt::CTRL | Qt::Key_O), [form] { form->Load_Button->click(); });
  shortcut(QKeySequence(Qt::CTRL | Qt::Key_S), [form] { form->Save_Button->click(); });

  // A file dropped anywhere on the window is loaded, also over the message area (which would
  // otherwise take the file's name as text).
  form->setAcceptDrops(true);
  form->installEventFilter(this);
  form->Memo1->setAcceptDrops(false);
  form->Memo1->viewport()->setAcceptDrops(false);
  form->VerticalOffset_LabeledNumericEdit->NumericEdit->installEventFilter(this);
  form->HorizontalOffset_LabeledNumericEdit->NumericEdit->installEventFilter(this);
  ShowZoom();
}

QWidget* ViewerControls::JoinTabOrder(QWidget* previous) {
  for (QWidget* w :
       {static_cast<QWidget*>(ZoomOut_Button), static_cast<QWidget*>(ZoomIn_Button),
        static_cast<QWidget*>(ActualSize_Button), static_cast<QWidget*>(FitWidth_Button),
        static_cast<QWidget*>(FitWhole_Button)}) {
    QWidget::setTabOrder(previous, w);
    previous = w;
  }
  return previous;
}

bool ViewerControls::StepTravelField(TNumericEdit* field, int key) {
  const char* step = nullptr;
  bool up = true;
  switch (key) {
    case Qt::Key_Up:
      step = quelmar::kSmallFieldStep;
      break;
    case Qt::Key_Down:
      step = quelmar::kSmallFieldStep;
      up = false;
      break;
    case Qt::Key_PageUp:
      step = quelmar::kLargeFieldStep;
      break;
    case Qt::Key_PageDown:
      step = quelmar::kLargeFieldStep;
      up = false;
      break;
    default:
      return false;
  }
  const std::optional<std::string> next =
      quelmar::SteppedFieldText(field->text().toStdString(), (up ? "" : "-") + std::string(step),
                                field->InputMin(), field->InputMax());
  if (!next) return true;
  field->setText(QString::fromStdString(*next));
  // Holding the key shows the seams close: a stack on show is stacked again at each step.
  if (form_->DisplayedImage.Stacked && form_->picture.Built()) form_->Stack_Button->click();
  return true;
}

bool ViewerControls::eventFilter(QObject* watched, QEvent* event) {
  switch (event->type()) {
    case QEvent::DragEnter:
    case QEvent::DragMove: {
      auto* drag = static_cast<QDropEvent*>(event);
      if (!DraggedFile(drag->mimeData())) return false;
      drag->acceptProposedAction();
      return true;
    }
    case QEvent::Drop: {
      auto* drop = static_cast<QDropEvent*>(event);
      const std::optional<QString> file = DraggedFile(drop->mimeData());
      if (!file) return false;
      drop->acceptProposedAction();
      form_->LoadProductFile(file->toStdString());
      return true;
    }
    case QEvent::KeyPress: {
      auto* field = qobject_cast<TNumericEdit*>(watched);
      auto* key = static_cast<QKeyEvent*>(event);
      if (field == nullptr || key->modifiers() & ~Qt::KeypadModifier) return false;
      return StepTravelField(field, key->key());
    }
    default:
      return false;
  }
}

void ViewerControls::ShowPlace(QPoint picturePixel) {
  lastPixel_ = picturePixel;
  const quelmar::PicturePlace place = quelmar::LocatePlace(
      form_->Product, form_->DisplayedImage, form_->picture, picturePixel.x(), picturePixel.y());
  if (!place.inside || form_->Image1->Image().isNull()) {
    ShowZoom();
    return;
  }
  Place_Label->setText(QString::fromStdString(quelmar::DescribePlace(place)));
}

void ViewerControls::ShowZoom() {
  const double percent = form_->Image1->Zoom() * 100;
  const QString shown =
      percent >= 10 ? QString::number(std::lround(percent)) : QString::number(percent, 'f', 1);
  Place_Label->setText(QStringLiteral("Zoom ") + shown + QStringLiteral("%"));
}
