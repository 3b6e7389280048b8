#include "MySQLConnection.h"

#include <errmsg.h>

#include "BatchInsert.h"
#include "ClientDataSet.h"
#include "Cp1251.h"
#include "DbValues.h"
#include "MySQLCursor.h"
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

void TMySQLConnection::CloseCursors() {
  const auto cursors = FCursors;
  for (TMySQLCursor* c : cursors) {
    try {
      c->Close();
    } catch (...) {
      // The session is going; what it still owed is of no use.
    }
  }
  FCursors.clear();
}

void TMySQLConnection::Close() {
  // Cursors and statements go first: their handles belong to the session.
  CloseCursors();
  FInSnapshot = false;
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

void TMySQLConnection::RequireIdle() const {
  // The client library would only say "Commands out of sync".
  if (!FCursors.empty())
    throw ENompackError(
        QStringLiteral("The MySQL session is still reading the rows of an open cursor"),
        ENompackError::Kind::Database);
}

void TMySQLConnection::Query(const QString& sql) {
  RequireIdle();
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

std::unique_ptr<ICursor> TMySQLConnection::OpenCursor(const QString& sql, const TParams& params) {
  return std::make_unique<TMySQLCursor>(*this, sql, params);
}

bool TMySQLConnection::BeginReadSnapshot() {
  if (FInSnapshot)
    throw ENompackError(QStringLiteral("A read snapshot is already active"),
                        ENompackError::Kind::Database);
  // Repeatable read is what makes the snapshot last for the whole
  // transaction; the setting holds for the next transaction only.
  Query(QStringLiteral("SET TRANSACTION ISOLATION LEVEL REPEATABLE READ"));
  DiscardResults(false);
  Query(QStringLiteral("START TRANSACTION WITH CONSISTENT SNAPSHOT, READ ONLY"));
  DiscardResults(false);
  FInSnapshot = true;
  return true;
}

void TMySQLConnection::EndReadSnapshot() {
  if (!FInSnapshot) return;
  // A result still streaming would keep the session from taking the COMMIT.
  CloseCursors();
  FInSnapshot = false;
  Query(QStringLiteral("COMMIT"));
  DiscardResults(false);
}

std::unique_ptr<IBatchInsert> TMySQLConnection::PrepareBatchInsert(const QString& table,
                                                                   const QStringList& columns,
                                                                   int maxRows) {
  RequireBatchIdentifier(table);
  // A statement refused half-way leaves the rows before the refused one in a
  // table without transactions (MyISAM): replaying the batch row by row would
  // then report them as refused. Such tables get one row per statement.
  const auto engine =
      Open(QStringLiteral("SELECT E.TRANSACTIONS FROM information_schema.TABLES T "
                          "JOIN information_schema.ENGINES E ON E.ENGINE = T.ENGINE "
                          "WHERE T.TABLE_SCHEMA = DATABASE() AND T.TABLE_NAME = :TABLE_NAME"),
           {{QStringLiteral("TABLE_NAME"), ftString, Variant::FromString(table)}});
  const bool transactional =
      !engine->IsEmpty() &&
      engine->Value(0).ToString().compare(QLatin1String("YES"), Qt::CaseInsensitive) == 0;
  // A statement holds at most 65,535 markers.
  const int markerRows = 65535 / qMax<int>(columns.size(), 1);
  const int rows = transactional ? qMax(1, qMin(maxRows, markerRows)) : 1;
  const QString row = QStringLiteral("(:") + columns.join(QStringLiteral(", :")) + QLatin1Char(')');
  const QString head = QStringLiteral("INSERT INTO `%1` (%2) VALUES ")
                           .arg(table, columns.join(QStringLiteral(", ")));
  return std::make_unique<TBatchInsert>(columns, rows, [this, head, row](int n) {
    QString sql = head;
    sql.reserve(head.size() + n * (row.size() + 2));
    for (int i = 0; i < n; ++i) {
      if (i) sql += QLatin1Char(',');
      sql += row;
    }
    return Prepare(sql);
  });
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
