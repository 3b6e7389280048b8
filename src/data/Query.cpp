#include "Query.h"

#include "DataModule.h"

#include "NamedParams.h"
#include "NompackError.h"

// Fields ---------------------------------------------------------------------

int TQueryField::AsInteger() const {
  return IsNull() ? 0 : Value().ToInt32();
}
qint64 TQueryField::AsLargeInt() const {
  return IsNull() ? 0 : Value().ToInt64();
}
double TQueryField::AsFloat() const {
  return IsNull() ? 0 : Value().ToDouble();
}
QString TQueryField::AsString() const {
  return Value().ToString();
}
bool TQueryField::AsBoolean() const {
  return IsNull() ? false : Value().ToBool();
}
TDateTime TQueryField::AsDateTime() const {
  return IsNull() ? 0 : Value().ToDateTime();
}

// Query ----------------------------------------------------------------------

namespace {

TSqlDialect DialectOf(DataBaseType kind) {
  switch (kind) {
    case DataBaseType::FireBird:
      return TSqlDialect::Firebird;
    case DataBaseType::MySQL:
      return TSqlDialect::MySQL;
    case DataBaseType::MSSQL:
      break;
  }
  return TSqlDialect::ODBC;
}

}  // namespace

TQuery::TQuery(TDM& dm, DataBaseType kind) : FDM(&dm), FKind(kind) {
  dm.RegisterQuery(this);
}

TQuery::~TQuery() {
  // The statement goes before the query lets go of the data module.
  FStatement.reset();
  if (FDM) FDM->UnregisterQuery(this);
}

void TQuery::DetachFromDataModule() {
  FStatement.reset();
  FDM = nullptr;
}

IConnection& TQuery::Connection() const {
  if (!FDM)
    throw ENompackError(QStringLiteral("The data module of this query is gone"),
                        ENompackError::Kind::Database);
  return FDM->Connection(FKind);
}

void TQuery::SetSQLText(const QString& text) {
  if (text == FSQLText) return;
  Close();
  FStatement.reset();
  FSQLText = text;
  FParams.clear();
  for (const QString& name : ParseNamedParams(text, DialectOf(FKind)).Names)
    FParams.append(TParam{name});
}

TParam& TQuery::ParamByName(const QString& name) {
  const int index = FindParam(FParams, name);
  if (index < 0)
    throw ENompackError(QStringLiteral("Parameter '%1' not found").arg(name),
                        ENompackError::Kind::Database);
  return FParams[index];
}

void TQuery::Open() {
  if (Active()) return;
  if (FSQLText.trimmed().isEmpty())
    throw ENompackError(QStringLiteral("The query has no SQL text"), ENompackError::Kind::Database);
  FDataSet = Connection().Open(FSQLText, FParams);
}

void TQuery::ExecSQL() {
  // A prepared statement has a text: a new text drops the statement, so the
  // check (a copy of the text) is made once per preparation, not per run.
  if (!FStatement && FSQLText.trimmed().isEmpty())
    throw ENompackError(QStringLiteral("The query has no SQL text"), ENompackError::Kind::Database);
  IConnection& con = Connection();
  const quint64 serial = FDM->ConnectionSerial(FKind);
  if (!FStatement || FStatementSerial != serial) {
    FStatement.reset();
    FStatement = con.Prepare(FSQLText);
    FStatementSerial = serial;
  }
  FStatement->Execute(FParams);
}

void TQuery::Close() {
  FDataSet.reset();
}

TClientDataSet& TQuery::DataSet() const {
  if (!FDataSet)
    throw ENompackError(QStringLiteral("Cannot perform this operation on a closed dataset"),
                        ENompackError::Kind::Database);
  return *FDataSet;
}

TQueryField TQuery::Fields(int index) const {
  TClientDataSet& ds = DataSet();
  if (index < 0 || index >= ds.FieldCount())
    throw ENompackError(QStringLiteral("Field index %1 out of range").arg(index));
  return TQueryField(ds, index);
}

TQueryField TQuery::FieldByName(const QString& name) const {
  TClientDataSet& ds = DataSet();
  return TQueryField(ds, ds.FieldIndex(name));
}

void SetStringParam(TQuery& query, const QString& name, const QString& value) {
  TParam& param = query.ParamByName(name);
  param.DataType = ftString;
  param.Value = Variant::FromString(value);
}
