#pragma once

#include <mysql.h>

#include <QByteArray>
#include <QVector>

#include "Connection.h"
#include "MySQLTypeMap.h"

class TMySQLConnection;

// A prepared statement: ":NAME" markers become "?", each bound from the
// parameter of that name with its declared field type.
class TMySQLStatement final : public IStatement {
 public:
  TMySQLStatement(TMySQLConnection& connection, const QString& sql);
  ~TMySQLStatement() override;

  const QStringList& ParamNames() const override { return FNames; }
  void Execute(const TParams& params) override;
  // Executes and reads every row.
  std::unique_ptr<TClientDataSet> Fetch(const TParams& params);

  // A result read row by row: OpenResult executes (false for a statement
  // without rows); `buffered` takes every row into the client first, else
  // they are read as NextRow asks. FreeResult frees the session again.
  bool OpenResult(const TParams& params, bool buffered);
  const QVector<TMySQLColumn>& Columns() const { return FColumns; }
  bool NextRow(QVector<Variant>& values);
  void FreeResult();

  // The session closes: the handle goes with it.
  void Invalidate();

 private:
  struct ParamBuffer {
    qint64 Int = 0;
    double Double = 0;
    signed char Tiny = 0;
    MYSQL_TIME Time{};
    QByteArray Bytes;
    unsigned long Length = 0;
  };

  // The buffer one result column is fetched into.
  struct ColumnBuffer {
    qint64 Int = 0;
    double Double = 0;
    MYSQL_TIME Time{};
    QByteArray Bytes;
    unsigned long Length = 0;
    my_bool IsNull = 0;
    my_bool Error = 0;
  };

  TMySQLConnection* FConnection;
  MYSQL_STMT* FStmt = nullptr;
  QStringList FMarkers;
  QStringList FNames;
  QVector<ParamBuffer> FBuffers;
  QVector<MYSQL_BIND> FBinds;
  MYSQL_RES* FMeta = nullptr;
  QVector<TMySQLColumn> FColumns;
  QVector<ColumnBuffer> FColBuffers;
  QVector<MYSQL_BIND> FResultBinds;

  MYSQL_STMT* Handle() const;
  void BindAndExecute(const TParams& params);
  void BindOne(int index, const TParam& param);
  [[noreturn]] void Fail() const;
};
