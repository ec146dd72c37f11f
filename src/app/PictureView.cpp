#include "app/PictureView.h"

#include <QPaintEvent>
#include <QPainter>

PictureView::PictureView(QWidget* parent) : QWidget(parent) {
  resize(105, 105);
  setFocusPolicy(Qt::NoFocus);
}

void PictureView::ShowPicture(const quelmar::Picture& picture) {
  const int w = picture.Width(), h = picture.Height();
  if (w > 0 && h > 0 && picture.Data() != nullptr) {
    // The const-data constructor wraps the bytes read-only; they are never copied.
    image_ = QImage(picture.Data(), w, h, picture.Stride(), QImage::Format_BGR888);
    resize(w, h);
  } else {
    image_ = QImage();
    resize(0, 0);
  }
  update();
}

void PictureView::Forget() {
  image_ = QImage();
  resize(0, 0);
  update();
}

void PictureView::paintEvent(QPaintEvent* event) {
  if (image_.isNull()) return;
  QPainter painter(this);
  painter.drawImage(event->rect(), image_, event->rect());
}
