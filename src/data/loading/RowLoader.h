#pragma once

#include <QString>
#include <QStringList>

#include "Connection.h"
#include "FieldType.h"
#include "IdentityReset.h"
#include "NompackError.h"
#include "Variant.h"

class IAppView;
class TClientDataSet;
class TDM;
class TLoadTarget;
class TQuery;

// Copies the rows of one table's chunk files into the target table, many
// rows per round trip, the statements prepared once per chunk shape. A row
// the database refuses is logged (one line, in packet order) and skipped;
// every other failure ends the loader after the identity reset and travels
// to the caller. The loader neither commits nor rolls back: a refused row
// undoes only its own statement, whatever transaction the caller runs.
class TRowLoader {
 public:
  // What became of one table's rows: read from its chunk files, inserted,
  // and refused (each with its logged line).
  struct TTableLoad {
    QString Table;
    int RowsRead = 0;
    int Loaded = 0;
    int Refused = 0;
  };

  TRowLoader(TDM& dm, IAppView& view);

  // `chunkFiles` (bare names in `packetFolder`) is sorted in place. A known
  // row total (from a packet check that has read the files) spares the
  // counting pass; -1 counts.
  void LoadMySQLChunks(const QString& packetFolder, QStringList& chunkFiles, const QString& table,
                       int knownTotalRows = -1);
  void LoadFBChunks(const QString& packetFolder, QStringList& chunkFiles, const QString& table,
                    int knownTotalRows = -1);

  // The same on the target a run picked for its kind.
  void LoadChunks(TLoadTarget& target, const QString& packetFolder, QStringList& chunkFiles,
                  const QString& table, int knownTotalRows = -1);

  // Rows of the listed chunk files together.
  int CountChunkRows(const QString& packetFolder, const QStringList& chunkFiles);
  // The MySQL table has a column PHARM_ID, in any letter case.
  bool MySQLTableHasPharmId(const QString& table);

  // Binds one value as the FireBird loader does: by the chunk column's field
  // type, NULL as NULL. ftLargeint goes in 64 bits, ftBCD as its exact
  // decimal.
  static void BindFBParam(TQuery& statement, const QString& name, TFieldType type,
                          const Variant& value);
  static void BindFBParam(TParam& param, TFieldType type, const Variant& value);

  // The progress caption of a table's load, whose counts are rows, and the
  // table a caption names (empty for the other stages' captions): a front
  // end that shows a rate of rows tells them apart.
  static QString ProgressCaption(const QString& table);
  static QString ProgressCaptionTable(const QString& caption);

  // Rows refused since the loader was made.
  int RefusedRows() const { return FRefusedRows; }
  // Each table loaded since the loader was made, in loading order.
  const QVector<TTableLoad>& TableLoads() const { return FTableLoads; }

  // The refused-row line: the refusal's text, " table: ", the table, "> ",
  // then each value of the row followed by a blank (NULL as nothing).
  static QString RefusedRowLine(const QString& message, const QString& table,
                                const QVector<Variant>& values);

  TIdentityReset& Identity() { return FIdentity; }

 private:
  TDM& FDM;
  IAppView& FView;
  TIdentityReset FIdentity;
  int FRefusedRows = 0;
  QVector<TTableLoad> FTableLoads;

  // The insert of one chunk shape: its columns (PHARM_ID last where the
  // loader sets it), for each chunk column the column it binds (-1 for one
  // left out), and for each column its parameter in the one-row statement.
  struct TInsertShape {
    QString Sql;
    QStringList Columns;
    QVector<int> ColumnParams;
    QVector<int> StatementParams;
    int PharmIdParam = -1;
  };
  // A row waiting for its batch: the chunk's values (for the log line), the
  // bound values of the insert's columns, and the column-limit refusal that
  // keeps it out of the batch.
  struct TPendingRow {
    QVector<Variant> Values;
    TParams Params;
    QString Refusal;
  };

  void LoadRows(TLoadTarget& target, const QString& packetFolder, QStringList& chunkFiles,
                const QString& table, int knownTotalRows, bool hasPharmId);
  // What the server said no to, as opposed to a value the client could not
  // convert or a fault of the loader.
  static bool IsRefusal(const ENompackError& e);
  // The row on its own, logged when refused; true when it was stored.
  bool InsertRow(TLoadTarget& target, TQuery& statement, const TInsertShape& shape,
                 const TPendingRow& row, const QString& table);
  void LogRefusedRow(const QString& message, const QString& table, const QVector<Variant>& values);
};
