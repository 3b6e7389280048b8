#include "MySQLCursor.h"

#include "Cp1251.h"
#include "MySQLConnection.h"
#include "MySQLStatement.h"
#include "MySQLValues.h"
#include "NamedParams.h"

TMySQLCursor::TMySQLCursor(TMySQLConnection& connection, const QString& sql, const TParams& params)
    : FConnection(&connection) {
  if (!ParseNamedParams(sql, TSqlDialect::MySQL).Markers.isEmpty()) {
    FStatement = std::make_unique<TMySQLStatement>(connection, sql);
    if (FStatement->OpenResult(params, false)) {
      FColumns = FStatement->Columns();
      for (const TMySQLColumn& col : FColumns) FDefs.append(col.Def);
      FOpen = true;
    }
    connection.AttachCursor(this);
    return;
  }
  connection.Query(sql);
  MYSQL* handle = connection.Handle();
  FResult = mysql_use_result(handle);
  if (!FResult) {
    if (mysql_field_count(handle) != 0) connection.FailLast();
    connection.DiscardResults(true);
    connection.AttachCursor(this);
    return;
  }
  FOpen = true;
  connection.AttachCursor(this);
  try {
    Describe(mysql_fetch_fields(FResult), mysql_num_fields(FResult));
  } catch (...) {
    // The destructor does not run for a constructor that throws.
    Close();
    throw;
  }
}

TMySQLCursor::~TMySQLCursor() {
  try {
    Close();
  } catch (...) {
    // A session lost while the rest of the rows were passed over.
  }
}

void TMySQLCursor::Describe(const MYSQL_FIELD* fields, unsigned count) {
  const unsigned maxLen = FConnection->CharsetMaxLen();
  FColumns.resize(count);
  for (unsigned i = 0; i < count; ++i) {
    FColumns[i] = DescribeMySQLColumn(fields[i], maxLen);
    FColumns[i].Def.Name = Cp1251::Decode(fields[i].name, fields[i].name_length);
    FDefs.append(FColumns[i].Def);
  }
}

bool TMySQLCursor::Next(QVector<Variant>& values) {
  if (!FOpen) return false;
  if (FStatement) {
    if (FStatement->NextRow(values)) return true;
    Close();
    return false;
  }
  MYSQL_ROW row = mysql_fetch_row(FResult);
  if (!row) {
    // The end of the rows or a lost session: only the error number tells.
    if (mysql_errno(FConnection->Handle()) != 0) FConnection->FailLast();
    Close();
    return false;
  }
  const unsigned long* lengths = mysql_fetch_lengths(FResult);
  const int count = FColumns.size();
  values.clear();
  values.reserve(count);
  for (int i = 0; i < count; ++i)
    values.append(row[i] ? MySQLValues::FromText(FColumns[i], row[i], lengths[i])
                         : Variant::Null());
  return true;
}

void TMySQLCursor::Close() {
  FOpen = false;
  TMySQLConnection* connection = FConnection;
  if (!connection) return;
  FConnection = nullptr;
  connection->DetachCursor(this);
  if (FStatement) {
    FStatement->FreeResult();
    FStatement.reset();
  }
  if (FResult) {
    // Freeing an unfinished result reads its remaining rows off the wire.
    mysql_free_result(FResult);
    FResult = nullptr;
    if (connection->IsConnected()) connection->DiscardResults(true);
  }
}
