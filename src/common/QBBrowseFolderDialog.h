#pragma once

#include <QObject>
#include <QString>

class QFileDialog;

// Lets the user pick a folder. Remembers the chosen folder in Folder, starts
// the next browse on it and shows Title as the dialog's caption.
class TQBBrowseFolderDialog : public QObject {
  Q_OBJECT
  Q_PROPERTY(QString Folder READ Folder WRITE SetFolder)
  Q_PROPERTY(QString Title READ Title WRITE SetTitle)

 public:
  explicit TQBBrowseFolderDialog(QObject* owner = nullptr);

  const QString& Folder() const { return FFolder; }
  void SetFolder(const QString& folder) { FFolder = folder; }
  const QString& Title() const { return FTitle; }
  void SetTitle(const QString& title) { FTitle = title; }

  // Runs the folder dialog modally, opened on Folder when it is set. True when
  // the user confirmed a folder, which Folder then holds (full path, native
  // separators); false on cancel, Folder unchanged.
  bool Execute();

 protected:
  // Shows the prepared dialog; true and the chosen folder when confirmed.
  virtual bool RunDialog(QFileDialog& dialog, QString& chosen);

 private:
  QString FFolder;
  QString FTitle;
};
