#include "CountTable.h"

#include <algorithm>

namespace {

QString CountText(qint64 count) {
  return count < 0 ? QStringLiteral("-") : QString::number(count);
}

}  // namespace

QStringList CountTableLines(const QStringList& headers, const QVector<TCountRow>& rows) {
  if (headers.isEmpty()) return {};
  const qsizetype columns = headers.size() - 1;
  qsizetype nameWidth = headers.first().size();
  QVector<qsizetype> widths(columns);
  for (qsizetype c = 0; c < columns; ++c) widths[c] = headers[c + 1].size();
  for (const TCountRow& row : rows) {
    nameWidth = std::max(nameWidth, row.Name.size());
    for (qsizetype c = 0; c < columns && c < row.Counts.size(); ++c)
      widths[c] = std::max(widths[c], CountText(row.Counts[c]).size());
  }
  const auto line = [&](const QString& name, const QStringList& cells) {
    QString text = QStringLiteral("  ") + name.leftJustified(nameWidth);
    for (qsizetype c = 0; c < columns; ++c)
      text += QStringLiteral("  ") + cells.value(c).rightJustified(widths[c]);
    return text;
  };
  QStringList lines{line(headers.first(), headers.mid(1))};
  for (const TCountRow& row : rows) {
    QStringList cells;
    for (qint64 count : row.Counts) cells.append(CountText(count));
    lines.append(line(row.Name, cells));
  }
  return lines;
}

QString RowsText(qint64 rows) {
  return rows == 1 ? QStringLiteral("1 ред") : QStringLiteral("%1 реда").arg(rows);
}
