#pragma once

#include <QString>
#include <QStringList>
#include <memory>

#include "DataBaseType.h"

class IConnection;
class TDM;

// What an export does differently per source kind: the connection its
// statements run on, the statement that reads a table, and what the source
// needs before its tables are read. The export and the generation
// run pick one by the kind, once, and ask it; nothing else in the export
// looks at the kind.
class TExportSource {
 public:
  virtual ~TExportSource() = default;
  TExportSource(const TExportSource&) = delete;
  TExportSource& operator=(const TExportSource&) = delete;

  DataBaseType Kind() const { return FKind; }
  TDM& DataModule() const { return FDM; }

  // Mends in the source what would not survive the data packet, before any
  // table is read; nothing by default.
  virtual void RepairSource() {}
  // "SELECT COUNT(*) TOTAL_COUNT FROM %s;" on the kind's connection, read
  // like the rows: inside the connection's read snapshot when one is open.
  int RowCount(const QString& table);
  // The schema version of the source ("%d.%d.%d.%d").
  QString DataVersion();

  // Readies the reading of one table (once per table, before its read);
  // throws ENompackError when the table cannot be read in a fixed order
  // where the kind needs one.
  virtual void BeginTable(const QString& table) { FTable = table; }
  // The one statement that reads every row of the table begun last. No
  // limit: the read and the count see the same rows in a read snapshot, and
  // where there is none the count check after the read sees any difference.
  virtual QString ReadStatement() const = 0;
  // The kind's connection.
  IConnection& Connection() const;

 protected:
  TExportSource(DataBaseType kind, TDM& dm) : FKind(kind), FDM(dm) {}
  const QString& Table() const { return FTable; }

 private:
  DataBaseType FKind;
  TDM& FDM;
  QString FTable;
};

// The source of the kind, on the data module's connection of that kind.
std::unique_ptr<TExportSource> MakeExportSource(DataBaseType kind, TDM& dm);

// The MSSQL page statement of the table with two %d (first and last row
// number), rows numbered by ID; empty for a table without an ID column.
// The column names come from the catalogue, in its order and letter case.
QString BuildMSSQLPageQuery(const QString& table, const QStringList& columns);
// The statement that reads all of the table ordered by ID, its columns
// named as the catalogue gives them; empty for a table without an ID column.
QString BuildMSSQLReadStatement(const QString& table, const QStringList& columns);
// The template's last two "%d" filled with the first and last row number.
QString FillMSSQLPageQuery(const QString& pageTemplate, qint64 firstRow, qint64 lastRow);
bool HasIDColumn(const QStringList& columns);
