#pragma once

#include <QString>
#include <QVector>

#include "FieldType.h"

class IAppView;
class TClientDataSet;
class TDM;

// Adds to a MySQL target table the columns of a chunk that the table lacks,
// with a column type derived from the chunk column's field type. Columns are
// only ever added; one that exists with another type stays as it is.
class TColumnReconciliation {
 public:
  TColumnReconciliation(TDM& dm, IAppView& view) : FDM(dm), FView(view) {}

  // Runs "alter table <table> add <column> <type>" for every chunk column
  // the table does not have (as MySQLColumnExists would tell, read once for
  // the table); a refused statement shows its error box
  // and the next column follows. Sets `reconciled` when done, so the loader
  // examines one chunk per table.
  void AddMissingMySQLColumns(const QString& table, const TClientDataSet& chunk, bool& reconciled);
  // The same for the columns a packet check found in the table's chunks.
  void AddMissingMySQLColumns(const QString& table, const QVector<TFieldDef>& columns);
  // The column exists in the table of the connection's current database.
  bool MySQLColumnExists(const QString& table, const QString& column);
  // The MySQL column type text for a chunk column; "unsupported field type"
  // for the types that have none.
  static QString GetMySQLColumnType(const TFieldDef& column);

 private:
  TDM& FDM;
  IAppView& FView;
};
