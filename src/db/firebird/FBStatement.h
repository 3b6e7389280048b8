#pragma once

#include <ibase.h>

#include <QByteArray>
#include <QVector>
#include <memory>

#include "Connection.h"
#include "FBTypeMap.h"
#include "NamedParams.h"

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

// A prepared DSQL statement of the attachment, run in its transaction (or
// in its read snapshot).
class TFBStatement final : public IStatement {
 public:
  TFBStatement(TFBConnection& connection, const QString& sql, bool inReadSnapshot = false);
  // A text whose "?" markers are given already, with the parameter each binds.
  TFBStatement(TFBConnection& connection, const TParsedSql& parsed, bool inReadSnapshot);
  ~TFBStatement() override;

  const QStringList& ParamNames() const override { return FNames; }
  void Execute(const TParams& params) override;
  // Executes and reads every row (a procedure's output as one row).
  std::unique_ptr<TClientDataSet> Fetch(const TParams& params);

  // Rows one by one: OpenRows executes (false for a statement without rows),
  // NextRow reads the next row (false after the last one).
  bool OpenRows(const TParams& params);
  const QVector<TFBColumn>& Columns() const { return FColumns; }
  bool NextRow(QVector<Variant>& values);

  // Before the first OpenRows: a select with memo columns is prepared again
  // so that each row brings the memo values of up to a few kilobytes with
  // it, read with the row instead of by a blob of their own (three round
  // trips each); only longer values are read as blobs. The columns and the
  // values read stay as they were. Keeps the statement as it is where the
  // rewritten one cannot be prepared.
  void InlineShortMemos();

  // Bytes of the message that carries the parameters of one execution.
  int InputMessageBytes() const;
  // The parameters as the server described them.
  const QVector<XSQLVAR>& DescribedParams() const { return FDescribedIn; }
  bool InReadSnapshot() const { return FInReadSnapshot; }

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
  bool FInReadSnapshot = false;
  bool FProcedureRowPending = false;
  QStringList FMarkers;
  QStringList FNames;
  TFBSqlDa FIn;
  QVector<XSQLVAR> FDescribedIn;  // what the server asked for, before we rewrite FIn
  QVector<ParamBuffer> FInBuffers;
  TFBSqlDa FOut;
  QVector<TFBColumn> FColumns;
  // Per column, the output variable of its value when short enough to come
  // with the row; -1 for none.
  QVector<int> FInlineVars;
  TParsedSql FParsed;
  QByteArray FOutData;
  QVector<short> FOutNulls;

  isc_stmt_handle* Handle();
  isc_tr_handle* Transaction();
  void Prepare(const TParsedSql& parsed);
  void DescribeOutput();
  void AllocateOutput();
  void ResizeOutput();
  QString InlineMemoExpression(int column, int bytes);
  void Bind(const TParams& params);
  void BindOne(int index, const TParam& param);
  void Run();
  Variant ReadColumn(int index);
  QByteArray ReadBlob(ISC_QUAD id);
  ISC_QUAD WriteBlob(const QByteArray& data);
};
