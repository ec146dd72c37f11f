// Start-up: the application, the one window, the event loop until the window closes.
#include <QApplication>
#include <QTimer>
#include <iostream>

#include "app/QuelmarForm.h"
#include "app/WindowCommandLine.h"
#include "util/MemoryPolicy.h"
#include "util/Numbers.h"
#include "util/Paths.h"

int main(int argc, char** argv) {
  quelmar::KeepFreedMemoryForReuse();
  const quelmar::WindowArguments arguments =
      quelmar::ParseWindowArguments(quelmar::CommandLineArguments(argc, argv));
  if (arguments.exitStatus) {
    (*arguments.exitStatus == 0 ? std::cout : std::cerr) << arguments.text;
    return *arguments.exitStatus;
  }
  QApplication app(argc, argv);
  // The toolkit has just set the C library's number format from the user's locale; the
  // program's numbers always use the period and no grouping.
  quelmar::SetProcessNumberFormat();
  QApplication::setApplicationName(QStringLiteral("Quelmar"));
  QApplication::setApplicationVersion(QStringLiteral(QUELMAR_VERSION));
  QApplication::setDesktopFileName(QStringLiteral("quelmar"));
  TQuelmar_Form form;
  form.show();
  if (!arguments.product.empty()) {
    // The product named on the command line is loaded once the window is up, as Load does.
    const std::string path = arguments.product;
    QTimer::singleShot(0, &form, [&form, path] { form.LoadProductFile(path); });
  }
  return QApplication::exec();
}
