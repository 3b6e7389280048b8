#include "QBMisc.h"

#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <cmath>

#include "NompackError.h"

bool ForceDeleteFile(const QString& fileName) {
  QFile::setPermissions(fileName, QFile::permissions(fileName) | QFileDevice::WriteOwner |
                                      QFileDevice::WriteUser | QFileDevice::ReadOwner);
  return QFile::remove(fileName);
}

bool DeleteFolder(const QString& folder) {
  QString base = folder;
  while (base.size() > 1 && (base.endsWith(QLatin1Char('/')) || base.endsWith(QDir::separator())))
    base.chop(1);
  bool ok = true;
  // Every entry is listed; once one fails nothing more is deleted.
  QDirIterator it(base, QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot);
  while (it.hasNext()) {
    it.next();
    if (!ok) continue;
    const QFileInfo info = it.fileInfo();
    const QString path = base + QLatin1Char('/') + info.fileName();
    if (info.isDir() && !info.isSymLink()) {
      ok = DeleteFolder(path);
    } else {
      ok = ForceDeleteFile(path);
    }
  }
  if (!ok) return false;
  return QDir().rmdir(base);
}

qint64 RunAndWait(const QString& commandLine, bool showWindow, const QString& workingFolder) {
  QStringList parts = QProcess::splitCommand(commandLine);
  if (parts.isEmpty()) return -1;
  const QString program = parts.takeFirst();
  return RunAndWait(program, parts, showWindow, workingFolder);
}

qint64 RunAndWait(const QString& program, const QStringList& arguments, bool showWindow,
                  const QString& workingFolder, QString* output) {
  Q_UNUSED(showWindow);
  if (program.isEmpty()) return -1;
  QProcess process;
  if (!workingFolder.isEmpty()) process.setWorkingDirectory(workingFolder);
  if (output) {
    process.setProcessChannelMode(QProcess::MergedChannels);
    process.setStandardInputFile(QProcess::nullDevice());
  } else {
    process.setProcessChannelMode(QProcess::ForwardedChannels);
    process.setInputChannelMode(QProcess::ForwardedInputChannel);
  }
  process.start(program, arguments);
  if (!process.waitForStarted(-1)) {
    if (output) *output = process.errorString();
    return -1;
  }
  process.waitForFinished(-1);
  if (output) *output = QString::fromLocal8Bit(process.readAll());
  if (process.exitStatus() == QProcess::CrashExit) return -2;
  // The exit code is returned whole; codes of 2^31 and more are not an error.
  return static_cast<qint64>(static_cast<quint32>(process.exitCode()));
}

int LastCharPos(QChar c, const QString& text, int skip) {
  for (int i = text.size() - 1; i >= 0; --i) {
    if (text[i] == c) {
      if (skip == 0) return i + 1;
      --skip;
    }
  }
  return 0;
}

bool IsDigits(const QString& text) {
  for (const QChar c : text) {
    if (c < QLatin1Char('0') || c > QLatin1Char('9')) return false;
  }
  return true;
}

qint32 VarToIntDef(const Variant& value, qint32 def) {
  return value.IsNull() ? def : value.ToInt32();
}

qint64 VarToInt64Def(const Variant& value, qint64 def) {
  return value.IsNull() ? def : value.ToInt64();
}

double VarToFloatDef(const Variant& value, double def) {
  return value.IsNull() ? def : value.ToDouble();
}

Currency RND(int unit, int mode, Currency value) {
  if (unit > 10000) {
    throw ENompackError(QStringLiteral("More than 4 decimal places not allowed in function RND."),
                        ENompackError::Kind::Assertion);
  }
  const long double raw = static_cast<long double>(value.Value);
  if (mode == 0) {
    const long double t = std::trunc(raw * unit / Currency::kScale);
    Currency result{static_cast<qint64>(std::llround(t / unit * Currency::kScale))};
    const long double tenth = std::trunc(raw * unit * 10 / Currency::kScale);
    const qint64 d = std::llabs(static_cast<qint64>(std::fmod(tenth, 10.0L)));
    if (d >= 5) {
      const int sign = value.Value > 0 ? 1 : (value.Value < 0 ? -1 : 0);
      result.Value += static_cast<qint64>(
          std::llround(static_cast<long double>(sign) * Currency::kScale / unit));
    }
    return result;
  }
  const long double scaled = std::fabs(raw * unit);
  if (scaled >= 9223372036854775807.0L) {
    throw ENompackError(QString::asprintf("Overflow on rounding %g with a factor of %g.",
                                          value.ToDouble(), static_cast<double>(unit)),
                        ENompackError::Kind::Conversion);
  }
  qint64 e = std::llround(scaled);
  if (mode == 1 && e % Currency::kScale != 0) e += Currency::kScale;
  e = e / Currency::kScale * Currency::kScale;
  qint64 result = std::llround(static_cast<long double>(e) / unit);
  if (value.Value < 0) result = -result;
  return Currency{result};
}
