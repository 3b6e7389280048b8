#pragma once

#include <mysql.h>

#include <set>

#include "Connection.h"
#include "Connections.h"

class TMySQLCursor;
class TMySQLStatement;

// One MariaDB Connector/C session. Statements without parameters run as plain
// text queries; statements with parameters as prepared statements.
class TMySQLConnection final : public IConnection {
 public:
  explicit TMySQLConnection(const MySQLConnectParams& params);
  ~TMySQLConnection() override;

  bool IsConnected() const override { return FHandle != nullptr; }
  void Close() override;

  void Execute(const QString& sql, const TParams& params = {}) override;
  std::unique_ptr<TClientDataSet> Open(const QString& sql, const TParams& params = {}) override;
  std::unique_ptr<IStatement> Prepare(const QString& sql) override;
  std::unique_ptr<ICursor> OpenCursor(const QString& sql, const TParams& params = {}) override;

  bool BeginReadSnapshot() override;
  void EndReadSnapshot() override;
  bool InReadSnapshot() const override { return FInSnapshot; }

  std::unique_ptr<IBatchInsert> PrepareBatchInsert(const QString& table, const QStringList& columns,
                                                   int maxRows) override;

  QVector<TableEntry> Tables() override;
  QStringList ColumnNames(const QString& table) override;

  // For the statements of this session.
  MYSQL* Handle() const;
  unsigned CharsetMaxLen() const;
  [[noreturn]] void FailLast() const;
  void Attach(TMySQLStatement* statement) { FStatements.insert(statement); }
  void Detach(TMySQLStatement* statement) { FStatements.erase(statement); }
  void AttachCursor(TMySQLCursor* cursor) { FCursors.insert(cursor); }
  void DetachCursor(TMySQLCursor* cursor) { FCursors.erase(cursor); }
  // Throws while a cursor streams the session's rows.
  void RequireIdle() const;
  void Query(const QString& sql);
  // `currentTaken`: the first result has been read already.
  void DiscardResults(bool currentTaken);

 private:
  MYSQL* FHandle = nullptr;
  std::set<TMySQLStatement*> FStatements;
  std::set<TMySQLCursor*> FCursors;
  bool FInSnapshot = false;

  void CloseCursors();
};

// The error of a session (or of a handle that failed to connect) as the
// exception the layer throws.
[[noreturn]] void ThrowMySQLError(unsigned errorNo, const char* message);
