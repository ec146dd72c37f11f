#include <QApplication>
#include <QMainWindow>

int main(int argc, char** argv) {
  QApplication app(argc, argv);
  QApplication::setApplicationName("Quelmar");
  QMainWindow window;
  window.setWindowTitle("Quelmar (v1.6.1)");
  window.resize(878, 607);
  window.show();
  return app.exec();
}
