#pragma once

#include <QString>
#include <QStringList>
#include <functional>

struct TPacketContents;

// What the target's catalogue says, as the check needs it. The loader names
// tables and columns unquoted (Firebird, and MySQL's cleanup), so letter
// case counts only where the server makes it count.
struct TTargetCatalogue {
  QStringList Tables;  // tables and views of the target
  bool TableCaseMatters = false;
  // The target's columns of one of its tables.
  std::function<QStringList(const QString& table)> ColumnsOf;
  // True where the installation adds a column the table lacks (MySQL);
  // otherwise a chunk column the table lacks refuses the packet, since
  // every row of that chunk would be refused after the table was emptied.
  bool AddsMissingColumns = false;
  // A chunk column the loader never inserts.
  std::function<bool(const QString& column)> LeftOut;
};

// Compares a checked packet with the target before anything there changes:
// every descriptor table exists; every chunk column exists in its table or,
// where the installation adds it, is noted in the table's MissingColumns
// and has a column type to be added with. The error text names the table
// (and column and chunk file), empty when the packet fits.
QString TargetShapeError(TPacketContents& contents, const TTargetCatalogue& catalogue);
