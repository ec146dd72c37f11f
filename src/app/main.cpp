// Start-up: the application, the one window, the event loop until the window closes.
#include <QApplication>

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
  return QApplication::exec();
}
