#pragma once

#include <sql.h>
#include <sqlext.h>

#include <QByteArray>
#include <QVector>

#include "Connection.h"
#include "ODBCTypeMap.h"

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

  // Rows one by one: OpenRows executes (false for a statement without rows),
  // NextRow reads the next row (false after the last one).
  bool OpenRows(const TParams& params);
  const QVector<TODBCColumn>& Columns() const { return FColumns; }
  bool NextRow(QVector<Variant>& values);
  void CloseCursor();

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
  QVector<TODBCColumn> FColumns;
  bool FRowsOpen = false;

  bool DescribeResult();
  std::unique_ptr<TClientDataSet> ReadResult();
};
