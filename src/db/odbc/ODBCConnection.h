#pragma once

#include <sql.h>
#include <sqlext.h>

#include <set>

#include "Connection.h"

class TODBCStatement;

// One ODBC connection. Data always travels as UTF-16 (SQL_C_WCHAR); the text
// of calls (statements, names, messages) goes through the wide API, or as
// UTF-8 through the narrow one for drivers that export no wide functions
// (the SQLite driver), whose text the driver manager would otherwise mangle.
class TODBCConnection final : public IConnection {
 public:
  TODBCConnection(const QString& odbcConnectionString, bool wideCalls, SQLUINTEGER loginTimeout);
  ~TODBCConnection() override;

  bool IsConnected() const override { return FDbc != SQL_NULL_HDBC; }
  void Close() override;

  void Execute(const QString& sql, const TParams& params = {}) override;
  std::unique_ptr<TClientDataSet> Open(const QString& sql, const TParams& params = {}) override;
  std::unique_ptr<IStatement> Prepare(const QString& sql) override;
  std::unique_ptr<ICursor> OpenCursor(const QString& sql, const TParams& params = {}) override;

  // No snapshot: the source servers reached through ODBC would need one
  // switched on for the database, or would lock the tables read.
  bool BeginReadSnapshot() override { return false; }
  void EndReadSnapshot() override {}
  bool InReadSnapshot() const override { return false; }

  // One row per statement: every statement stands on its own.
  std::unique_ptr<IBatchInsert> PrepareBatchInsert(const QString& table, const QStringList& columns,
                                                   int maxRows) override;

  QVector<TableEntry> Tables() override;
  QStringList ColumnNames(const QString& table) override;

  // For the statements of this connection.
  SQLHDBC Handle() const;
  bool WideCalls() const { return FWide; }
  void Attach(TODBCStatement* s) { FStatements.insert(s); }
  void Detach(TODBCStatement* s) { FStatements.erase(s); }

 private:
  SQLHENV FEnv = SQL_NULL_HENV;
  SQLHDBC FDbc = SQL_NULL_HDBC;
  bool FWide = true;
  std::set<TODBCStatement*> FStatements;
};

// Throws the diagnostics of a handle: the records' messages joined by line
// breaks, the first native code; Kind::Server when the data source gave a
// native code, Kind::Database otherwise.
[[noreturn]] void ThrowODBCError(SQLSMALLINT handleType, SQLHANDLE handle, bool wide,
                                 const QString& fallback);

// Text for a narrow call (UTF-8) or a wide one (the string's own UTF-16,
// valid while the string lives).
QByteArray ODBCNarrow(const QString& text);
inline SQLWCHAR* ODBCWide(const QString& text) {
  return const_cast<SQLWCHAR*>(reinterpret_cast<const SQLWCHAR*>(text.utf16()));
}
