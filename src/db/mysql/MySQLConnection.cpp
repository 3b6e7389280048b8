#include "MySQLConnection.h"

#include <errmsg.h>

#include "ClientDataSet.h"
#include "Cp1251.h"
#include "DbValues.h"
#include "MySQLStatement.h"
#include "MySQLValues.h"
#include "NamedParams.h"
#include "NompackError.h"

void ThrowMySQLError(unsigned errorNo, const char* message) {
  const QString text = Cp1251::Decode(QByteArray(message));
  // Codes 2000-2999 are the client library's own (no route to the server,
  // lost connection, out of memory); everything else the server said.
  const bool fromClient = errorNo >= CR_MIN_ERROR && errorNo <= 2999;
  throw ENompackError(text,
                      fromClient ? ENompackError::Kind::Database : ENompackError::Kind::Server,
                      text, errorNo);
}

TMySQLConnection::TMySQLConnection(const MySQLConnectParams& params) {
  MYSQL* handle = mysql_init(nullptr);
  if (!handle) throw ENompackError(QStringLiteral("Out of memory"), ENompackError::Kind::Database);
  // The port is part of the address: a host of "localhost" must not quietly
  // turn into the local socket.
  const unsigned protocol = MYSQL_PROTOCOL_TCP;
  mysql_optionsv(handle, MYSQL_OPT_PROTOCOL, &protocol);
  mysql_optionsv(handle, MYSQL_SET_CHARSET_NAME, "cp1251");
  const unsigned timeout = 15;
  mysql_optionsv(handle, MYSQL_OPT_CONNECT_TIMEOUT, &timeout);
  const QByteArray host = params.Host.toUtf8();
  QByteArray user, password, database;
  try {
    user = Cp1251::Encode(params.UserName);
    password = Cp1251::Encode(params.Password);
    database = Cp1251::Encode(params.Database);
  } catch (...) {
    mysql_close(handle);
    throw;
  }
  if (!mysql_real_connect(handle, host.constData(), user.constData(), password.constData(),
                          params.Database.isEmpty() ? nullptr : database.constData(), params.Port,
                          nullptr, CLIENT_FOUND_ROWS)) {
    const unsigned errorNo = mysql_errno(handle);
    const QByteArray message = mysql_error(handle);
    mysql_close(handle);
    ThrowMySQLError(errorNo, message.constData());
  }
  FHandle = handle;
}

TMySQLConnection::~TMySQLConnection() {
  Close();
}

void TMySQLConnection::Close() {
  // Statements go first: their handles belong to the session.
  const auto statements = FStatements;
  for (TMySQLStatement* s : statements) s->Invalidate();
  FStatements.clear();
  if (FHandle) {
    mysql_close(FHandle);
    FHandle = nullptr;
  }
}

MYSQL* TMySQLConnection::Handle() const {
  if (!FHandle)
    throw ENompackError(QStringLiteral("The MySQL connection is not open"),
                        ENompackError::Kind::Database);
  return FHandle;
}

unsigned TMySQLConnection::CharsetMaxLen() const {
  MY_CHARSET_INFO cs{};
  mysql_get_character_set_info(Handle(), &cs);
  return cs.mbmaxlen ? cs.mbmaxlen : 1;
}

void TMySQLConnection::FailLast() const {
  if (mysql_errno(FHandle) == 0) ThrowMySQLError(CR_UNKNOWN_ERROR, "Unknown MySQL error");
  ThrowMySQLError(mysql_errno(FHandle), mysql_error(FHandle));
}

void TMySQLConnection::Query(const QString& sql) {
  const QByteArray text = Cp1251::Encode(sql);
  if (mysql_real_query(Handle(), text.constData(), static_cast<unsigned long>(text.size())) != 0)
    FailLast();
}

void TMySQLConnection::DiscardResults(bool currentTaken) {
  // A statement may leave several results; all of them must be read before
  // the session takes the next statement.
  for (bool take = !currentTaken;; take = true) {
    if (take) {
      if (MYSQL_RES* res = mysql_store_result(FHandle))
        mysql_free_result(res);
      else if (mysql_errno(FHandle) != 0)
        FailLast();
    }
    if (!mysql_more_results(FHandle)) return;
    if (mysql_next_result(FHandle) > 0) FailLast();
  }
}

void TMySQLConnection::Execute(const QString& sql, const TParams& params) {
  const TParsedSql parsed = ParseNamedParams(sql, TSqlDialect::MySQL);
  if (parsed.Markers.isEmpty()) {
    Query(sql);
    DiscardResults(false);
    return;
  }
  TMySQLStatement statement(*this, sql);
  statement.Execute(params);
}

std::unique_ptr<TClientDataSet> TMySQLConnection::Open(const QString& sql, const TParams& params) {
  const TParsedSql parsed = ParseNamedParams(sql, TSqlDialect::MySQL);
  if (!parsed.Markers.isEmpty()) {
    TMySQLStatement statement(*this, sql);
    return statement.Fetch(params);
  }
  Query(sql);
  auto ds = std::make_unique<TClientDataSet>();
  MYSQL_RES* res = mysql_store_result(FHandle);
  if (!res) {
    if (mysql_field_count(FHandle) != 0) FailLast();
    DiscardResults(true);
    ds->Open();
    return ds;
  }
  // The result is released on every path; a failing decode leaves nothing behind.
  std::unique_ptr<MYSQL_RES, decltype(&mysql_free_result)> guard(res, &mysql_free_result);

  const unsigned count = mysql_num_fields(res);
  const MYSQL_FIELD* fields = mysql_fetch_fields(res);
  const unsigned maxLen = CharsetMaxLen();
  QVector<TMySQLColumn> columns(count);
  for (unsigned i = 0; i < count; ++i) {
    columns[i] = DescribeMySQLColumn(fields[i], maxLen);
    columns[i].Def.Name = Cp1251::Decode(fields[i].name, fields[i].name_length);
    ds->AddFieldDef(columns[i].Def);
  }
  auto& rows = ds->MutableRows();
  rows.reserve(static_cast<qsizetype>(mysql_num_rows(res)));
  while (MYSQL_ROW row = mysql_fetch_row(res)) {
    const unsigned long* lengths = mysql_fetch_lengths(res);
    QVector<Variant> values;
    values.reserve(count);
    for (unsigned i = 0; i < count; ++i)
      values.append(row[i] ? MySQLValues::FromText(columns[i], row[i], lengths[i])
                           : Variant::Null());
    rows.append(std::move(values));
  }
  if (mysql_errno(FHandle)) FailLast();
  guard.reset();
  DiscardResults(true);
  ds->Open();
  return ds;
}

std::unique_ptr<IStatement> TMySQLConnection::Prepare(const QString& sql) {
  return std::make_unique<TMySQLStatement>(*this, sql);
}

QVector<IConnection::TableEntry> TMySQLConnection::Tables() {
  const auto ds =
      Open(QStringLiteral("SELECT TABLE_NAME, TABLE_TYPE FROM information_schema.TABLES WHERE "
                          "TABLE_SCHEMA = DATABASE() "
                          "ORDER BY TABLE_NAME"));
  QVector<TableEntry> out;
  for (const auto& row : ds->Rows()) {
    const QString type = row[1].ToString();
    // The catalogue's words, as the ODBC schema rowset reports them.
    QString kind = type;
    if (type == QLatin1String("BASE TABLE"))
      kind = QStringLiteral("TABLE");
    else if (type == QLatin1String("SYSTEM VIEW"))
      kind = QStringLiteral("SYSTEM TABLE");
    out.append({row[0].ToString(), kind});
  }
  return out;
}

QStringList TMySQLConnection::ColumnNames(const QString& table) {
  TParams params{{QStringLiteral("TABLE_NAME"), ftString, Variant::FromString(table)}};
  const auto ds =
      Open(QStringLiteral("SELECT COLUMN_NAME FROM information_schema.COLUMNS "
                          "WHERE TABLE_SCHEMA = DATABASE() AND TABLE_NAME = :TABLE_NAME "
                          "ORDER BY ORDINAL_POSITION"),
           params);
  QStringList out;
  for (const auto& row : ds->Rows()) out.append(row[0].ToString());
  return out;
}

std::unique_ptr<IConnection> OpenMySQL(const MySQLConnectParams& params) {
  return std::make_unique<TMySQLConnection>(params);
}
