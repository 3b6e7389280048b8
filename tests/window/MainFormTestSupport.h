#pragma once

#include <QProcess>
#include <QString>
#include <QStringList>
#include <QWidget>
#include <QtTest>

#include "QBObjectComboBox.h"

// What the main window tests share: the window's caption and the ways a
// user reaches its controls.
namespace MainFormTest {

inline const QString kCaption = QStringLiteral("Генератор на инстал. ном. пакети");

template <typename T>
T* Find(QWidget& form, const QString& name) {
  return form.findChild<T*>(name);
}

// Chooses the kind as a user does: the arrow keys on the combo box.
inline void ChooseKind(QWidget& form, int index) {
  auto* combo = Find<TQBObjectComboBox>(form, QStringLiteral("cbDataBaseType"));
  while (combo->currentIndex() < index) QTest::keyClick(combo, Qt::Key_Down);
  while (combo->currentIndex() > index) QTest::keyClick(combo, Qt::Key_Up);
}

// Runs a script of the project with bash; empty when it succeeded, else
// what it printed.
inline QString RunScript(const QStringList& arguments) {
  QProcess process;
  process.setProcessChannelMode(QProcess::MergedChannels);
  process.start(QStringLiteral("bash"), arguments);
  if (!process.waitForFinished(600000))
    return QStringLiteral("timed out: ") + arguments.join(QLatin1Char(' '));
  if (process.exitStatus() != QProcess::NormalExit || process.exitCode() != 0)
    return QString::fromLocal8Bit(process.readAll());
  return QString();
}

}  // namespace MainFormTest
