#pragma once
// ScrollBox1: the scrolling frame around the picture. It can keep a row free along its lower
// edge, under the picture and above its horizontal scroll bar, for controls that have no room
// below the frame; the frame itself keeps its place and size.
#include <QScrollArea>

class PictureFrame : public QScrollArea {
  Q_OBJECT
 public:
  explicit PictureFrame(QWidget* parent = nullptr);

  // Keeps `height` pixels free under the picture (0: none); the picture's part of the frame
  // shrinks by as much.
  void KeepRowBelow(int height);

 signals:
  // The picture's part of the frame changed its size (the frame did, a scroll bar came or went,
  // or the row below changed).
  void ViewportResized();

 protected:
  bool viewportEvent(QEvent* event) override;

 private:
  int rowBelow_ = 0;
};
