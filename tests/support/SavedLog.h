#pragma once

#include <QFile>
#include <QString>
#include <QStringList>

// The lines of a run's saved log, read as UTF-8 (a file that is not valid
// UTF-8 shows as replacement characters and fails the comparisons). Empty
// when the file cannot be read.
inline QStringList SavedLogLines(const QString& file) {
  QFile f(file);
  if (!f.open(QIODevice::ReadOnly)) return {};
  QStringList lines = QString::fromUtf8(f.readAll()).split(QLatin1Char('\n'));
  // The file ends with a line break and an empty line after each run.
  while (!lines.isEmpty() && lines.last().isEmpty()) lines.removeLast();
  return lines;
}
