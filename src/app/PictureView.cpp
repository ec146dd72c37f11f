#include "app/PictureView.h"

#include <QContextMenuEvent>
#include <QMenu>
#include <QMouseEvent>
#include <QPaintEvent>
#include <QPainter>
#include <QScrollArea>
#include <QScrollBar>
#include <QStyle>
#include <QTimer>
#include <QWheelEvent>
#include <algorithm>
#include <cmath>

namespace {

QImage Wrap(const quelmar::Picture& picture) {
  if (picture.Width() <= 0 || picture.Height() <= 0 || picture.Data() == nullptr) return {};
  // The const-data constructor wraps the bytes read-only; they are never copied.
  return QImage(picture.Data(), picture.Width(), picture.Height(), picture.Stride(),
                QImage::Format_BGR888);
}

}  // namespace

PictureView::PictureView(QWidget* parent) : QWidget(parent) {
  resize(105, 105);
  setFocusPolicy(Qt::NoFocus);
  setMouseTracking(true);
}

void PictureView::ShowPicture(const quelmar::Picture& picture) {
  image_ = Wrap(picture);
  picture_ = image_.isNull() ? nullptr : &picture;
  copies_.Reset(picture_);
  resize(ZoomedSize(zoom_));
  update();
  // The reduced copies are made as soon as the window is idle, so that no later repaint at any
  // zoom has to make them (a repaint before then makes the ones it needs itself).
  const quint64 generation = ++generation_;
  QTimer::singleShot(0, this, [this, generation] {
    if (generation == generation_ && picture_ != nullptr) copies_.BuildAll();
  });
}

void PictureView::Forget() {
  image_ = QImage();
  picture_ = nullptr;
  ++generation_;
  copies_.Reset(nullptr);
  resize(0, 0);
  update();
}

QSize PictureView::ZoomedSize(double zoom) const {
  if (image_.isNull()) return {0, 0};
  const auto side = [zoom](int n) {
    return static_cast<int>(std::clamp(std::ceil(n * zoom), 1.0, 16777215.0));
  };
  return {side(image_.width()), side(image_.height())};
}

QScrollArea* PictureView::ScrollFrame() const {
  // The view sits in the frame's viewport, whose parent is the frame.
  QWidget* viewport = parentWidget();
  return viewport == nullptr ? nullptr : qobject_cast<QScrollArea*>(viewport->parentWidget());
}

double PictureView::MinZoom() const {
  // Small enough to see the whole of the tallest picture in a small window, never below a
  // picture 16 pixels tall.
  if (image_.isNull()) return 1.0 / 1024;
  const int longest = std::max(image_.width(), image_.height());
  return std::min(1.0, std::max(1.0 / 1024, 16.0 / longest));
}

void PictureView::SetZoom(double zoom, const QPoint* anchor) {
  zoom = std::clamp(zoom, MinZoom(), kMaxZoom);
  QScrollArea* frame = ScrollFrame();
  const double old = zoom_;
  zoom_ = zoom;
  if (image_.isNull() || frame == nullptr) {
    if (!image_.isNull()) resize(ZoomedSize(zoom_));
    update();
    if (old != zoom_) emit ZoomChanged(zoom_);
    return;
  }
  QScrollBar* h = frame->horizontalScrollBar();
  QScrollBar* v = frame->verticalScrollBar();
  const QPoint at = anchor != nullptr ? *anchor : frame->viewport()->rect().center();
  // The picture point under the anchor, in picture pixels, before the change.
  const double px = (h->value() + at.x()) / old;
  const double py = (v->value() + at.y()) / old;
  resize(ZoomedSize(zoom_));
  h->setValue(static_cast<int>(std::lround(px * zoom_ - at.x())));
  v->setValue(static_cast<int>(std::lround(py * zoom_ - at.y())));
  update();
  if (old != zoom_) emit ZoomChanged(zoom_);
}

void PictureView::FitWidth() {
  QScrollArea* frame = ScrollFrame();
  if (image_.isNull() || frame == nullptr) return;
  // Fitted to the frame's width, a picture taller than the frame needs the vertical scroll
  // bar, which takes its width from the room.
  const QSize most = frame->maximumViewportSize();
  double zoom = most.width() / static_cast<double>(image_.width());
  if (image_.height() * zoom > most.height()) {
    const int bar = frame->style()->pixelMetric(QStyle::PM_ScrollBarExtent, nullptr,
                                                frame->verticalScrollBar());
    zoom = std::max(1, most.width() - bar) / static_cast<double>(image_.width());
  }
  SetZoom(zoom);
}

void PictureView::FitWhole() {
  QScrollArea* frame = ScrollFrame();
  if (image_.isNull() || frame == nullptr) return;
  const QSize room = frame->maximumViewportSize();
  const double zoom = std::min(std::max(1, room.width()) / static_cast<double>(image_.width()),
                               std::max(1, room.height()) / static_cast<double>(image_.height()));
  SetZoom(zoom);
}

QPoint PictureView::PicturePoint(QPoint viewPoint) const {
  return {static_cast<int>(std::floor(viewPoint.x() / zoom_)),
          static_cast<int>(std::floor(viewPoint.y() / zoom_))};
}

void PictureView::Draw(QPainter& painter, const QRect& rect) {
  if (image_.isNull()) return;
  const QRect area = rect.intersected(this->rect());
  if (area.isEmpty()) return;
  // Drawn from the copy halved as often as the zoom allows, so the copy is shrunk by at most
  // half; at 1:1 and above from the picture itself, each pixel a sharp square.
  const int32_t level = copies_.LevelForScale(zoom_);
  const quelmar::Picture& copy = copies_.Level(level);
  const QImage source = level == 0 ? image_ : Wrap(copy);
  if (source.isNull()) return;
  const double scale = zoom_ * std::ldexp(1.0, level);  // screen pixels per copy pixel
  // One pixel more on every side, so that smooth drawing blends across the edges of the area as
  // it does inside it (an area repainted alone shows no seam).
  const int x0 =
      std::clamp(static_cast<int>(std::floor(area.left() / scale)) - 1, 0, source.width());
  const int y0 =
      std::clamp(static_cast<int>(std::floor(area.top() / scale)) - 1, 0, source.height());
  const int x1 =
      std::clamp(static_cast<int>(std::ceil((area.right() + 1) / scale)) + 1, 0, source.width());
  const int y1 =
      std::clamp(static_cast<int>(std::ceil((area.bottom() + 1) / scale)) + 1, 0, source.height());
  if (x1 <= x0 || y1 <= y0) return;
  // Only the part in view is converted for drawing, never the whole picture.
  const QImage part = source.copy(x0, y0, x1 - x0, y1 - y0).convertToFormat(QImage::Format_RGB32);
  painter.setRenderHint(QPainter::SmoothPixmapTransform, scale < 1);
  painter.setClipRect(area);
  painter.drawImage(QRectF(x0 * scale, y0 * scale, (x1 - x0) * scale, (y1 - y0) * scale), part);
}

void PictureView::paintEvent(QPaintEvent* event) {
  if (image_.isNull()) return;
  QPainter painter(this);
  Draw(painter, event->rect());
}

void PictureView::wheelEvent(QWheelEvent* event) {
  if (!(event->modifiers() & Qt::ControlModifier) || image_.isNull()) {
    event->ignore();  // the scrolling frame scrolls
    return;
  }
  const int steps = event->angleDelta().y() / 120;
  if (steps == 0) {
    event->accept();
    return;
  }
  QScrollArea* frame = ScrollFrame();
  const QPoint anchor = frame != nullptr ? mapTo(frame->viewport(), event->position().toPoint())
                                         : event->position().toPoint();
  SetZoom(zoom_ * std::pow(kZoomStep, steps), &anchor);
  event->accept();
}

void PictureView::mousePressEvent(QMouseEvent* event) {
  QScrollArea* frame = ScrollFrame();
  if (event->button() != Qt::LeftButton || frame == nullptr) {
    QWidget::mousePressEvent(event);
    return;
  }
  dragging_ = true;
  dragStart_ = event->globalPosition().toPoint();
  scrollAtDragStart_ = {frame->horizontalScrollBar()->value(), frame->verticalScrollBar()->value()};
  setCursor(Qt::ClosedHandCursor);
  event->accept();
}

void PictureView::mouseMoveEvent(QMouseEvent* event) {
  QScrollArea* frame = ScrollFrame();
  if (dragging_ && frame != nullptr) {
    const QPoint moved = event->globalPosition().toPoint() - dragStart_;
    frame->horizontalScrollBar()->setValue(scrollAtDragStart_.x() - moved.x());
    frame->verticalScrollBar()->setValue(scrollAtDragStart_.y() - moved.y());
  }
  emit MouseOverPicture(PicturePoint(event->position().toPoint()));
  event->accept();
}

void PictureView::mouseReleaseEvent(QMouseEvent* event) {
  if (event->button() == Qt::LeftButton && dragging_) {
    dragging_ = false;
    unsetCursor();
  }
  event->accept();
}

void PictureView::leaveEvent(QEvent* event) {
  QWidget::leaveEvent(event);
  emit MouseOverPicture(QPoint(-1, -1));
}

void PictureView::contextMenuEvent(QContextMenuEvent* event) {
  if (image_.isNull()) return;
  QMenu menu(this);
  QScrollArea* frame = ScrollFrame();
  const QPoint anchor = frame != nullptr ? mapTo(frame->viewport(), event->pos()) : event->pos();
  menu.addAction(QStringLiteral("Zoom in\tCtrl++"), this, [this, anchor] { ZoomIn(&anchor); });
  menu.addAction(QStringLiteral("Zoom out\tCtrl+-"), this, [this, anchor] { ZoomOut(&anchor); });
  menu.addAction(QStringLiteral("1:1\tCtrl+0"), this, [this] { ActualSize(); });
  menu.addAction(QStringLiteral("Fit width\tCtrl+1"), this, [this] { FitWidth(); });
  menu.addAction(QStringLiteral("Fit whole\tCtrl+2"), this, [this] { FitWhole(); });
  menu.exec(event->globalPos());
}
