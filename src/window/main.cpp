// nompack: the main window over the generation and installation runs.
#include <QApplication>

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

}  // namespace

int main(int argc, char* argv[]) {
  TNompackApplication app(argc, argv);
  QApplication::setApplicationName(QStringLiteral("nompack"));
  QApplication::setApplicationDisplayName(QStringLiteral("Генератор на инстал. ном. пакети"));
  // Errors of the controls (an edit that cannot be left) go to the same box.
  SetErrorReportHook([](const QString& message) { ShowTopLevelError(message); });

  TMainForm form;
  TDM dm(form);
  form.SetDataModule(&dm);
  form.show();
  const int result = QApplication::exec();
  form.SetDataModule(nullptr);
  return result;
}
