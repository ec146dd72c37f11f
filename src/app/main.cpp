// Start-up: the application, the one window, the event loop until the window closes.
#include <QApplication>
#include <QStringList>
#include <QTimer>
#include <string>

#include "app/QuelmarForm.h"
#include "util/Numbers.h"

int main(int argc, char** argv) {
  QApplication app(argc, argv);
  // The toolkit has just set the C library's number format from the user's locale; the
  // program's numbers always use the period and no grouping.
  quelmar::SetProcessNumberFormat();
  QApplication::setApplicationName(QStringLiteral("Quelmar"));
  TQuelmar_Form form;
  form.show();
  // "quelmar FILE.IMG" loads that product once the window is up, as the Load command does.
  const QStringList arguments = QApplication::arguments();
  if (arguments.size() > 1) {
    const std::string path = arguments.at(1).toStdString();
    QTimer::singleShot(0, &form, [&form, path] { form.LoadProductFile(path); });
  }
  return QApplication::exec();
}
