#pragma once

#include <ibase.h>

#include <QByteArray>
#include <QVector>
#include <memory>

#include "Connection.h"
#include "FBTypeMap.h"

class TFBConnection;

// An XSQLDA of some number of variables, owned.
class TFBSqlDa {
 public:
  explicit TFBSqlDa(int count = 1) { Resize(count); }
  void Resize(int count);
  XSQLDA* Get() const { return reinterpret_cast<XSQLDA*>(FMemory.get()); }
  XSQLVAR& Var(int i) const { return Get()->sqlvar[i]; }
  int Count() const { return Get()->sqld; }

 private:
  std::unique_ptr<char[]> FMemory;
};

// A prepared DSQL statement of the attachment, run in its transaction.
class TFBStatement final : public IStatement {
 public:
  TFBStatement(TFBConnection& connection, const QString& sql);
  ~TFBStatement() override;

  const QStringList& ParamNames() const override { return FNames; }
  void Execute(const TParams& params) override;
  // Executes and reads every row (a procedure's output as one row).
  std::unique_ptr<TClientDataSet> Fetch(const TParams& params);

  void CloseCursor();
  // The attachment closes: the handle goes with it.
  void Invalidate();

 private:
  struct ParamBuffer {
    QByteArray Data;
    short Null = 0;
  };

  TFBConnection* FConnection;
  isc_stmt_handle FStmt = 0;
  int FType = 0;
  bool FCursorOpen = false;
  QStringList FMarkers;
  QStringList FNames;
  TFBSqlDa FIn;
  QVector<XSQLVAR> FDescribedIn;  // what the server asked for, before we rewrite FIn
  QVector<ParamBuffer> FInBuffers;
  TFBSqlDa FOut;
  QVector<TFBColumn> FColumns;
  QByteArray FOutData;
  QVector<short> FOutNulls;

  isc_stmt_handle* Handle();
  void Prepare(const QString& sql);
  void DescribeOutput();
  void Bind(const TParams& params);
  void BindOne(int index, const TParam& param);
  void Run();
  Variant ReadColumn(int index);
  QByteArray ReadBlob(ISC_QUAD id);
  ISC_QUAD WriteBlob(const QByteArray& data);
};
