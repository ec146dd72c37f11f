#pragma once
// Image1: shows the window's picture. It wraps the picture's own bytes (no copy) and takes the
// picture's size times the zoom, so the scrolling frame around it offers scroll bars for a large
// picture. Zoomed out it draws from reduced copies of the picture (area-averaged, made once per
// picture when the window is next idle); zoomed in, every picture pixel is a sharp square.
// Ctrl+wheel zooms about the mouse, dragging with the left button pans, and the place under the
// mouse is reported.
#include <QImage>
#include <QPoint>
#include <QWidget>

#include "assembly/Picture.h"
#include "assembly/ReducedCopies.h"

class QScrollArea;

class PictureView : public QWidget {
  Q_OBJECT
 public:
  explicit PictureView(QWidget* parent = nullptr);

  // Wraps the picture's current bytes and takes its size (0 x 0 shows nothing). Must be called
  // again after every change of the picture, since a rebuilt picture may live elsewhere in
  // memory; the picture must outlive the view or be shown again before it goes.
  void ShowPicture(const quelmar::Picture& picture);
  // Drops the wrapped bytes (the view shows nothing until the next ShowPicture).
  void Forget();

  const QImage& Image() const { return image_; }

  // Zoom: screen pixels per picture pixel, within MinZoom()..kMaxZoom.
  static constexpr double kMaxZoom = 32;
  static constexpr double kZoomStep = 1.25;
  double Zoom() const { return zoom_; }
  double MinZoom() const;
  // Sets the zoom keeping the picture point under `anchor` (a point of the scrolling frame's
  // viewport) where it is; the viewport's centre when no anchor is given.
  void SetZoom(double zoom, const QPoint* anchor = nullptr);
  void ZoomIn(const QPoint* anchor = nullptr) { SetZoom(zoom_ * kZoomStep, anchor); }
  void ZoomOut(const QPoint* anchor = nullptr) { SetZoom(zoom_ / kZoomStep, anchor); }
  void FitWidth();
  void FitWhole();
  void ActualSize() { SetZoom(1); }

  // The picture pixel under a point of the view (may lie off the picture).
  QPoint PicturePoint(QPoint viewPoint) const;
  // The reduced copies drawn from (for the benchmark and tests).
  quelmar::ReducedCopies& Copies() { return copies_; }
  // Draws the view's area `rect` (view coordinates) with `painter` as a repaint does.
  void Draw(class QPainter& painter, const QRect& rect);

 signals:
  // The picture pixel under the mouse; (-1, -1) when the mouse left the view.
  void MouseOverPicture(QPoint picturePixel);
  void ZoomChanged(double zoom);

 protected:
  void paintEvent(QPaintEvent* event) override;
  void wheelEvent(QWheelEvent* event) override;
  void mousePressEvent(QMouseEvent* event) override;
  void mouseMoveEvent(QMouseEvent* event) override;
  void mouseReleaseEvent(QMouseEvent* event) override;
  void leaveEvent(QEvent* event) override;
  void contextMenuEvent(QContextMenuEvent* event) override;

 private:
  QScrollArea* ScrollFrame() const;
  QSize ZoomedSize(double zoom) const;

  const quelmar::Picture* picture_ = nullptr;
  QImage image_;
  quelmar::ReducedCopies copies_;
  quint64 generation_ = 0;  // counts the pictures shown, so a late copy build skips an old one
  double zoom_ = 1;
  bool dragging_ = false;
  QPoint dragStart_;
  QPoint scrollAtDragStart_;
};
