#pragma once

#include <QString>
#include <QStringList>

// The installation log without the summaries that follow each committed
// installation's last stage line: from "Обобщение на инсталацията:" through
// the verdict (the first line after it not indented by two blanks).
inline QStringList WithoutSummaries(const QStringList& log) {
  QStringList out;
  bool inSummary = false;
  for (const QString& line : log) {
    if (line == QStringLiteral("Обобщение на инсталацията:")) {
      inSummary = true;
      continue;
    }
    if (inSummary) {
      if (!line.startsWith(QLatin1String("  "))) inSummary = false;
      continue;
    }
    out.append(line);
  }
  return out;
}

// The summary's table lines of a log (without the header and the total),
// each split into its name and numbers.
inline QList<QStringList> SummaryTableRows(const QStringList& log) {
  QList<QStringList> rows;
  const qsizetype title = log.indexOf(QStringLiteral("Обобщение на инсталацията:"));
  if (title < 0) return rows;
  for (qsizetype i = title + 2; i < log.size() && log[i].startsWith(QLatin1String("  ")); ++i)
    rows.append(log[i].split(QLatin1Char(' '), Qt::SkipEmptyParts));
  if (!rows.isEmpty()) rows.removeLast();  // the total
  return rows;
}
