#include "OpenDialog.h"

#include <QDir>
#include <QFileDialog>
#include <QWidget>

TOpenDialog::TOpenDialog(QWidget* owner) : QObject(owner), FOwner(owner) {}

QString TOpenDialog::ExtensionFilter(const QString& extension) {
  return QStringLiteral("*%1 (*%1)").arg(extension);
}

bool TOpenDialog::Execute() {
  if (OnExecute) return OnExecute(*this);
  QFileDialog dialog(FOwner);
  dialog.setAcceptMode(QFileDialog::AcceptOpen);
  // Any name may be typed, also one that is not there yet.
  dialog.setFileMode(QFileDialog::AnyFile);
  dialog.setNameFilter(FFilter);
  if (!FFileName.isEmpty()) dialog.selectFile(FFileName);
  if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty()) return false;
  FFileName = QDir::toNativeSeparators(dialog.selectedFiles().constFirst());
  return true;
}
