#include "QBBrowseFolderDialog.h"

#include <QApplication>
#include <QDir>
#include <QFileDialog>
#include <QWidget>

TQBBrowseFolderDialog::TQBBrowseFolderDialog(QObject* owner) : QObject(owner) {}

bool TQBBrowseFolderDialog::Execute() {
  QWidget* owner = qobject_cast<QWidget*>(parent());
  QFileDialog dialog(owner ? owner->window() : QApplication::activeWindow(), FTitle);
  dialog.setFileMode(QFileDialog::Directory);
  dialog.setOption(QFileDialog::ShowDirsOnly, true);
  dialog.setAcceptMode(QFileDialog::AcceptOpen);
  // A folder that no longer exists is passed all the same; the dialog then
  // opens where it can.
  if (!FFolder.isEmpty()) dialog.setDirectory(FFolder);
  QString chosen;
  if (!RunDialog(dialog, chosen) || chosen.isEmpty()) return false;
  FFolder = QDir::toNativeSeparators(chosen);
  return true;
}

bool TQBBrowseFolderDialog::RunDialog(QFileDialog& dialog, QString& chosen) {
  if (dialog.exec() != QDialog::Accepted) return false;
  const QStringList files = dialog.selectedFiles();
  if (files.isEmpty()) return false;
  chosen = files.first();
  return true;
}
