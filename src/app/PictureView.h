#pragma once
// Image1: shows the window's picture. It wraps the picture's own bytes (no copy) and takes the
// picture's size, so the scrolling frame around it offers scroll bars for a large picture.
#include <QImage>
#include <QWidget>

#include "assembly/Picture.h"

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

 protected:
  void paintEvent(QPaintEvent* event) override;

 private:
  QImage image_;
};
