#pragma once

#include <QString>
#include <QStringList>
#include <memory>

#include "DataBaseType.h"

class TDM;
class TQuery;

// What an export does differently per source kind: the connection its
// statements run on, its page query, how a table is paged, and what the
// source needs before its tables are read. The export and the generation
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
  // "SELECT COUNT(*) TOTAL_COUNT FROM %s;" on the kind's connection.
  int RowCount(const QString& table);
  // The schema version of the source ("%d.%d.%d.%d").
  QString DataVersion();

  // Readies the paging of one table (once per table, before its first page);
  // throws ENompackError when the table cannot be paged.
  virtual void BeginTable(const QString& table) { FTable = table; }
  // The statement of the page that starts at row `offset` (0-based) and
  // holds at most `chunkSize` rows.
  virtual QString PageStatement(int offset, int chunkSize) const = 0;
  // The data module's page query of the kind (IBQuery1, ADOQuery1, ADOQuery2).
  TQuery& PageQuery() const;

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
// The template's last two "%d" filled with the first and last row number.
QString FillMSSQLPageQuery(const QString& pageTemplate, qint64 firstRow, qint64 lastRow);
bool HasIDColumn(const QStringList& columns);
