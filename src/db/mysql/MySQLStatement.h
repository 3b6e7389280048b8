#pragma once

#include <mysql.h>

#include <QByteArray>
#include <QVector>

#include "Connection.h"

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

  TMySQLConnection* FConnection;
  MYSQL_STMT* FStmt = nullptr;
  QStringList FMarkers;
  QStringList FNames;
  QVector<ParamBuffer> FBuffers;
  QVector<MYSQL_BIND> FBinds;

  MYSQL_STMT* Handle() const;
  void BindAndExecute(const TParams& params);
  void BindOne(int index, const TParam& param);
  [[noreturn]] void Fail() const;
};
