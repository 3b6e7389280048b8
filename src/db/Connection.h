#pragma once

#include <QString>
#include <QStringList>
#include <QVector>
#include <memory>

#include "ClientDataSet.h"
#include "FieldType.h"
#include "Variant.h"

// A named statement parameter (":NAME" in the statement text), bound by name
// (letter case ignored) with its declared type.
struct TParam {
  QString Name;
  TFieldType DataType = ftUnknown;
  Variant Value = Variant::Null();
};
using TParams = QVector<TParam>;

// A statement prepared once and executed many times with new values.
class IStatement {
 public:
  virtual ~IStatement() = default;
  // The parameter names of the text, in order of first appearance.
  virtual const QStringList& ParamNames() const = 0;
  virtual void Execute(const TParams& params) = 0;
};

// A forward-only read of one statement's rows, taken from the server as they
// are asked for: a table of any size is read with one statement and never
// held in memory whole. Field definitions and values are those Open gives.
// The cursor must not outlive its connection's Close (it is released then).
class ICursor {
 public:
  virtual ~ICursor() = default;
  virtual const QVector<TFieldDef>& FieldDefs() const = 0;
  // The next row into `values` (one per field); false after the last row.
  virtual bool Next(QVector<Variant>& values) = 0;
  // Ends the read early; the session takes other statements again.
  virtual void Close() = 0;

  // The next up to `maxRows` rows as an open dataset with the cursor's
  // fields; no rows once the read has ended.
  std::unique_ptr<TClientDataSet> FetchDataSet(int maxRows);
};

// An insert of many rows per round trip into one table. A batch is one
// statement: when the server refuses any of its rows, none of them is stored
// and ExecuteBatch throws; the rows of earlier batches stay, also inside a
// transaction.
class IBatchInsert {
 public:
  virtual ~IBatchInsert() = default;
  // The most rows one ExecuteBatch takes.
  virtual int MaxBatchRows() const = 0;
  // Each row holds one parameter per column, in the order of the columns the
  // batch was prepared for and named as they are.
  virtual void ExecuteBatch(const QVector<TParams>& rows) = 0;
};

// One open database session. Every failure throws ENompackError: Kind::Server
// for what the server refused (with its text and native code), Kind::Database
// for other client failures.
class IConnection {
 public:
  virtual ~IConnection() = default;

  virtual bool IsConnected() const = 0;
  virtual void Close() = 0;

  // A statement without rows.
  virtual void Execute(const QString& sql, const TParams& params = {}) = 0;
  // A statement with rows: all of them, with their field definitions (type,
  // size, precision), in a dataset positioned on the first row.
  virtual std::unique_ptr<TClientDataSet> Open(const QString& sql, const TParams& params = {}) = 0;
  virtual std::unique_ptr<IStatement> Prepare(const QString& sql) = 0;
  // A statement with rows, read forward as they arrive. MySQL: until the
  // cursor closes, the session takes no other statement.
  virtual std::unique_ptr<ICursor> OpenCursor(const QString& sql, const TParams& params = {}) = 0;

  // One view of the database for the reads of several statements: cursors
  // opened until EndReadSnapshot see the data as it was when the snapshot
  // began, whatever other sessions commit meanwhile. MySQL: a read-only
  // consistent-read transaction of the session (no writes until it ends).
  // Firebird: a read-only snapshot transaction beside the main one, which
  // keeps running the other statements. False where the server gives none
  // (ODBC): each statement then reads as of its own start.
  virtual bool BeginReadSnapshot() = 0;
  virtual void EndReadSnapshot() = 0;
  virtual bool InReadSnapshot() const = 0;

  // Inserts of up to `maxRows` rows per round trip into `table` (a plain
  // name) naming `columns`. Fewer rows per batch where the server's limits
  // or a table without transactions require it (one row at the least).
  virtual std::unique_ptr<IBatchInsert> PrepareBatchInsert(const QString& table,
                                                           const QStringList& columns,
                                                           int maxRows) = 0;

  // Catalogue: the tables and views of the current database, in catalogue
  // order, and the column names of one table in column order.
  struct TableEntry {
    QString Name;
    QString Type;  // "TABLE", "VIEW", "SYSTEM TABLE", ...
  };
  virtual QVector<TableEntry> Tables() = 0;
  virtual QStringList ColumnNames(const QString& table) = 0;

  // Transactions, where the server has them (Firebird). The others run every
  // statement on its own and answer false to SupportsTransactions.
  virtual bool SupportsTransactions() const { return false; }
  virtual bool InTransaction() const { return false; }
  virtual void StartTransaction() {}
  virtual void Commit() {}
  virtual void CommitRetaining() {}
  virtual void RollbackRetaining() {}
};
