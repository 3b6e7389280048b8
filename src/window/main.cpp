// nompack: the main window over the generation and installation runs.
#include <QApplication>
#include <cstdio>
#include <cstring>

#include "DataModule.h"
#include "MainFrm.h"
#include "QBDialogs.h"

namespace {

// The last line of defence of the top-level error handler: an error that an
// event handler let through is shown here instead of crossing the event loop.
class TNompackApplication : public QApplication {
 public:
  using QApplication::QApplication;

  bool notify(QObject* receiver, QEvent* event) override {
    try {
      return QApplication::notify(receiver, event);
    } catch (const std::exception& e) {
      ShowTopLevelError(QBFocus::MessageOf(e));
    }
    return false;
  }
};

// Answered before the application object exists: a window program must be
// able to tell its version where there is no display to connect to.
bool AskedForVersion(int argc, char* argv[]) {
  for (int i = 1; i < argc; ++i)
    if (std::strcmp(argv[i], "--version") == 0 || std::strcmp(argv[i], "-v") == 0) return true;
  return false;
}

}  // namespace

int main(int argc, char* argv[]) {
  if (AskedForVersion(argc, argv)) {
    std::puts("nompack " NOMPACK_VERSION);
    return 0;
  }
  TNompackApplication app(argc, argv);
  QApplication::setApplicationVersion(QStringLiteral(NOMPACK_VERSION));
  TMainForm::SetUpApplication();

  TMainForm form;
  TDM dm(form);
  form.SetDataModule(&dm);
  form.show();
  const int result = QApplication::exec();
  form.SetDataModule(nullptr);
  return result;
}
