#pragma once

#include <QString>
#include <memory>

#include "ClientDataSet.h"
#include "Connection.h"
#include "DataBaseType.h"

class TDM;

// One field of a query's current row.
class TQueryField {
 public:
  TQueryField(const TClientDataSet& dataSet, int index) : FDataSet(&dataSet), FIndex(index) {}

  const TFieldDef& Def() const { return FDataSet->FieldDef(FIndex); }
  const QString& FieldName() const { return Def().Name; }
  const Variant& Value() const { return FDataSet->Value(FIndex); }
  bool IsNull() const { return Value().IsNull(); }
  // NULL reads as 0, "" and False; other values convert or throw
  // ENompackError (Conversion).
  int AsInteger() const;
  qint64 AsLargeInt() const;
  double AsFloat() const;
  QString AsString() const;
  bool AsBoolean() const;
  TDateTime AsDateTime() const;

 private:
  const TClientDataSet* FDataSet;
  int FIndex;
};

// A query on one of the data module's connections. Setting the SQL text
// derives its parameters from the ":NAME"s in it; Open runs it and holds all
// its rows, ExecSQL runs a statement without rows and prepares it once for as
// long as the text stays the same.
class TQuery {
 public:
  TQuery(TDM& dm, DataBaseType kind);
  ~TQuery();
  TQuery(const TQuery&) = delete;
  TQuery& operator=(const TQuery&) = delete;

  DataBaseType Kind() const { return FKind; }

  const QString& SQLText() const { return FSQLText; }
  // A changed text closes the query and makes new parameters (type ftUnknown,
  // value NULL); the same text again keeps them and the prepared statement.
  void SetSQLText(const QString& text);

  TParams& Params() { return FParams; }
  const TParams& Params() const { return FParams; }
  // The parameter of that name, letter case ignored; ENompackError when the
  // text has none.
  TParam& ParamByName(const QString& name);

  // Runs the text and keeps its rows; a query already open stays as it is.
  void Open();
  void ExecSQL();
  void Close();
  bool Active() const { return FDataSet != nullptr; }

  // The rows of an open query (ENompackError when closed).
  TClientDataSet& DataSet() const;
  void First() { DataSet().First(); }
  void Next() { DataSet().Next(); }
  void Prior() { DataSet().Prior(); }
  void Last() { DataSet().Last(); }
  bool Eof() const { return DataSet().Eof(); }
  bool Bof() const { return DataSet().Bof(); }
  bool IsEmpty() const { return DataSet().IsEmpty(); }
  int RecordCount() const { return DataSet().RecordCount(); }
  int FieldCount() const { return DataSet().FieldCount(); }
  TQueryField Fields(int index) const;
  TQueryField FieldByName(const QString& name) const;

  // The data module goes: the query keeps its rows but runs nothing more.
  void DetachFromDataModule();

 private:
  TDM* FDM;
  DataBaseType FKind;
  QString FSQLText;
  TParams FParams;
  std::unique_ptr<TClientDataSet> FDataSet;
  std::unique_ptr<IStatement> FStatement;
  quint64 FStatementSerial = 0;

  IConnection& Connection() const;
};

// Declares the query's parameter of that name as text and gives it the value.
void SetStringParam(TQuery& query, const QString& name, const QString& value);
