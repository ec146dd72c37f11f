#include "app/PictureFrame.h"

#include <QEvent>

PictureFrame::PictureFrame(QWidget* parent) : QScrollArea(parent) {}

void PictureFrame::KeepRowBelow(int height) {
  if (height == rowBelow_) return;
  rowBelow_ = height;
  setViewportMargins(0, 0, 0, height);
}

bool PictureFrame::viewportEvent(QEvent* event) {
  const bool handled = QScrollArea::viewportEvent(event);
  if (event->type() == QEvent::Resize) emit ViewportResized();
  return handled;
}
