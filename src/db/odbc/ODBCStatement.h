#pragma once

#include <sql.h>
#include <sqlext.h>

#include <QByteArray>
#include <QVector>

#include "Connection.h"

class TODBCConnection;

// A prepared ODBC statement; ":NAME" markers become "?".
class TODBCStatement final : public IStatement {
 public:
  TODBCStatement(TODBCConnection& connection, const QString& sql);
  // A statement handle for catalogue calls only.
  explicit TODBCStatement(TODBCConnection& connection);
  ~TODBCStatement() override;

  const QStringList& ParamNames() const override { return FNames; }
  void Execute(const TParams& params) override;
  std::unique_ptr<TClientDataSet> Fetch(const TParams& params);

  enum class TCatalogue { Tables, Columns };
  // The rows of SQLTables (all tables) or SQLColumns (of one table).
  std::unique_ptr<TClientDataSet> Catalogue(TCatalogue kind, const QString& table);

  void Invalidate();

 private:
  struct ParamBuffer {
    QByteArray Data;
    SQLLEN Indicator = 0;
  };

  TODBCConnection* FConnection;
  SQLHSTMT FStmt = SQL_NULL_HSTMT;
  QStringList FMarkers;
  QStringList FNames;
  QVector<ParamBuffer> FBuffers;

  void Allocate();
  SQLHSTMT Handle() const;
  void Check(SQLRETURN rc) const;
  void BindAndExecute(const TParams& params);
  void BindOne(int index, const TParam& param);
  std::unique_ptr<TClientDataSet> ReadResult();
  void CloseCursor();
};
