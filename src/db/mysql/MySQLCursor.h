#pragma once

#include <mysql.h>

#include <memory>

#include "Connection.h"
#include "MySQLTypeMap.h"

class TMySQLConnection;
class TMySQLStatement;

// A streaming result of the session: a plain statement's rows through
// mysql_use_result (text protocol, decoded as Open decodes them), a
// statement with parameters through an unbuffered prepared statement. The
// session is busy with it until it is closed.
class TMySQLCursor final : public ICursor {
 public:
  TMySQLCursor(TMySQLConnection& connection, const QString& sql, const TParams& params);
  ~TMySQLCursor() override;

  const QVector<TFieldDef>& FieldDefs() const override { return FDefs; }
  bool Next(QVector<Variant>& values) override;
  void Close() override;

 private:
  TMySQLConnection* FConnection;
  MYSQL_RES* FResult = nullptr;
  std::unique_ptr<TMySQLStatement> FStatement;
  QVector<TMySQLColumn> FColumns;
  QVector<TFieldDef> FDefs;
  bool FOpen = false;

  void Describe(const MYSQL_FIELD* fields, unsigned count);
};
