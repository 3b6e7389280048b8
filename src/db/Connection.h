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
