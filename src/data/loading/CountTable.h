#pragma once

#include <QString>
#include <QStringList>
#include <QVector>

// One line of a table of counts: a name and its numbers; a negative number
// shows as "-" (not counted).
struct TCountRow {
  QString Name;
  QVector<qint64> Counts;
};

// The lines of a table of counts in a fixed layout, for a log read in a
// fixed-width font: the names padded to the longest, the numbers right-
// aligned under their headers, every line indented by two blanks. The
// first header names the name column.
QStringList CountTableLines(const QStringList& headers, const QVector<TCountRow>& rows);

// "1 ред", "5 реда".
QString RowsText(qint64 rows);
