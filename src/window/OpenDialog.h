#pragma once

#include <QObject>
#include <QString>
#include <functional>

class QWidget;

// The main window's one open-file dialog, shared by three actions. It keeps
// its filter and the last chosen file between runs; the actions set the
// filter they need and put the default back afterwards.
class TOpenDialog : public QObject {
  Q_OBJECT

 public:
  explicit TOpenDialog(QWidget* owner);

  // A Qt name filter: the description, then the masks in parentheses.
  const QString& Filter() const { return FFilter; }
  void SetFilter(const QString& filter) { FFilter = filter; }
  const QString& FileName() const { return FFileName; }
  void SetFileName(const QString& fileName) { FFileName = fileName; }

  // Runs the dialog modally; true when the user confirmed a file, which
  // FileName then holds (native separators).
  bool Execute();

  // Replaces the dialog (tests): sees the dialog as the action prepared it,
  // may set FileName, returns whether the user confirmed.
  std::function<bool(TOpenDialog& dialog)> OnExecute;

  // The filter of the star pattern of an extension: "*.fpd (*.fpd)".
  static QString ExtensionFilter(const QString& extension);

 private:
  QWidget* FOwner;
  QString FFilter;
  QString FFileName;
};
