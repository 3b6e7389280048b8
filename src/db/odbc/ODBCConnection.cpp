#include "ODBCConnection.h"

#include "BatchInsert.h"
#include "ClientDataSet.h"
#include "Connections.h"
#include "NompackError.h"
#include "ODBCCursor.h"
#include "ODBCStatement.h"
#include "OleDbConnectionString.h"

static_assert(sizeof(SQLWCHAR) == sizeof(char16_t), "the driver manager's SQLWCHAR must be UTF-16");

QByteArray ODBCNarrow(const QString& text) {
  return text.toUtf8();
}

void ThrowODBCError(SQLSMALLINT handleType, SQLHANDLE handle, bool wide, const QString& fallback) {
  QStringList lines;
  SQLINTEGER firstNative = 0;
  QString firstState;
  for (SQLSMALLINT i = 1;; ++i) {
    SQLINTEGER native = 0;
    SQLSMALLINT length = 0;
    QString state, message;
    SQLRETURN rc;
    if (wide) {
      SQLWCHAR st[6] = {};
      SQLWCHAR msg[2048];
      rc = SQLGetDiagRecW(handleType, handle, i, st, &native, msg, 2048, &length);
      if (!SQL_SUCCEEDED(rc)) break;
      state = QString::fromUtf16(reinterpret_cast<const char16_t*>(st), 5);
      message = QString::fromUtf16(reinterpret_cast<const char16_t*>(msg), qMin<int>(length, 2047));
    } else {
      SQLCHAR st[6] = {};
      SQLCHAR msg[4096];
      rc = SQLGetDiagRec(handleType, handle, i, st, &native, msg, 4096, &length);
      if (!SQL_SUCCEEDED(rc)) break;
      state = QString::fromLatin1(reinterpret_cast<const char*>(st), 5);
      message = QString::fromUtf8(reinterpret_cast<const char*>(msg), qMin<int>(length, 4095));
    }
    if (i == 1) {
      firstNative = native;
      firstState = state;
    }
    lines.append(message);
  }
  const QString text = lines.isEmpty() ? fallback : lines.join(QLatin1Char('\n'));
  ENompackError error(
      text, firstNative != 0 ? ENompackError::Kind::Server : ENompackError::Kind::Database, text,
      firstNative);
  if (!firstState.isEmpty()) error.AddContext(QStringLiteral("SQLSTATE %1").arg(firstState));
  throw error;
}

TODBCConnection::TODBCConnection(const QString& odbcConnectionString, bool wideCalls,
                                 SQLUINTEGER loginTimeout)
    : FWide(wideCalls) {
  if (!SQL_SUCCEEDED(SQLAllocHandle(SQL_HANDLE_ENV, SQL_NULL_HANDLE, &FEnv)))
    throw ENompackError(QStringLiteral("Cannot allocate an ODBC environment"),
                        ENompackError::Kind::Database);
  SQLSetEnvAttr(FEnv, SQL_ATTR_ODBC_VERSION, reinterpret_cast<SQLPOINTER>(SQL_OV_ODBC3), 0);
  if (!SQL_SUCCEEDED(SQLAllocHandle(SQL_HANDLE_DBC, FEnv, &FDbc))) {
    SQLFreeHandle(SQL_HANDLE_ENV, FEnv);
    throw ENompackError(QStringLiteral("Cannot allocate an ODBC connection"),
                        ENompackError::Kind::Database);
  }
  SQLSetConnectAttr(FDbc, SQL_ATTR_LOGIN_TIMEOUT,
                    reinterpret_cast<SQLPOINTER>(static_cast<SQLULEN>(loginTimeout)), 0);
  SQLRETURN rc;
  if (FWide) {
    rc = SQLDriverConnectW(FDbc, nullptr, ODBCWide(odbcConnectionString), SQL_NTS, nullptr, 0,
                           nullptr, SQL_DRIVER_NOPROMPT);
  } else {
    QByteArray text = ODBCNarrow(odbcConnectionString);
    rc = SQLDriverConnect(FDbc, nullptr, reinterpret_cast<SQLCHAR*>(text.data()), SQL_NTS, nullptr,
                          0, nullptr, SQL_DRIVER_NOPROMPT);
  }
  if (!SQL_SUCCEEDED(rc)) {
    try {
      ThrowODBCError(SQL_HANDLE_DBC, FDbc, FWide, QStringLiteral("The ODBC connection failed"));
    } catch (...) {
      SQLFreeHandle(SQL_HANDLE_DBC, FDbc);
      SQLFreeHandle(SQL_HANDLE_ENV, FEnv);
      FDbc = SQL_NULL_HDBC;
      FEnv = SQL_NULL_HENV;
      throw;
    }
  }
}

TODBCConnection::~TODBCConnection() {
  Close();
}

void TODBCConnection::Close() {
  const auto statements = FStatements;
  for (TODBCStatement* s : statements) s->Invalidate();
  FStatements.clear();
  if (FDbc != SQL_NULL_HDBC) {
    SQLDisconnect(FDbc);
    SQLFreeHandle(SQL_HANDLE_DBC, FDbc);
    FDbc = SQL_NULL_HDBC;
  }
  if (FEnv != SQL_NULL_HENV) {
    SQLFreeHandle(SQL_HANDLE_ENV, FEnv);
    FEnv = SQL_NULL_HENV;
  }
}

SQLHDBC TODBCConnection::Handle() const {
  if (FDbc == SQL_NULL_HDBC)
    throw ENompackError(QStringLiteral("The ODBC connection is not open"),
                        ENompackError::Kind::Database);
  return FDbc;
}

void TODBCConnection::Execute(const QString& sql, const TParams& params) {
  TODBCStatement statement(*this, sql);
  statement.Execute(params);
}

std::unique_ptr<TClientDataSet> TODBCConnection::Open(const QString& sql, const TParams& params) {
  TODBCStatement statement(*this, sql);
  return statement.Fetch(params);
}

std::unique_ptr<IStatement> TODBCConnection::Prepare(const QString& sql) {
  return std::make_unique<TODBCStatement>(*this, sql);
}

std::unique_ptr<ICursor> TODBCConnection::OpenCursor(const QString& sql, const TParams& params) {
  return std::make_unique<TODBCCursor>(std::make_unique<TODBCStatement>(*this, sql), params);
}

std::unique_ptr<IBatchInsert> TODBCConnection::PrepareBatchInsert(const QString& table,
                                                                  const QStringList& columns,
                                                                  int /*maxRows*/) {
  RequireBatchIdentifier(table);
  const QString sql =
      QStringLiteral("INSERT INTO %1 (%2) VALUES (:%3)")
          .arg(table, columns.join(QStringLiteral(", ")), columns.join(QStringLiteral(", :")));
  return std::make_unique<TBatchInsert>(columns, 1, [this, sql](int) { return Prepare(sql); });
}

QVector<IConnection::TableEntry> TODBCConnection::Tables() {
  TODBCStatement catalogue(*this);
  const auto ds = catalogue.Catalogue(TODBCStatement::TCatalogue::Tables, QString());
  QVector<TableEntry> out;
  // TABLE_NAME and TABLE_TYPE are the third and fourth columns of SQLTables.
  for (const auto& row : ds->Rows()) out.append({row.value(2).ToString(), row.value(3).ToString()});
  return out;
}

QStringList TODBCConnection::ColumnNames(const QString& table) {
  TODBCStatement catalogue(*this);
  const auto ds = catalogue.Catalogue(TODBCStatement::TCatalogue::Columns, table);
  // The rows of one table only: a name pattern may match others, and a name
  // may exist in several schemas, of which the first listed counts.
  QStringList out;
  QString schema;
  bool haveSchema = false;
  for (const auto& row : ds->Rows()) {
    if (row.value(2).ToString().compare(table, Qt::CaseInsensitive) != 0) continue;
    const QString rowSchema = row.value(1).ToString();
    if (!haveSchema) {
      schema = rowSchema;
      haveSchema = true;
    }
    if (rowSchema != schema) continue;
    out.append(row.value(3).ToString());
  }
  return out;
}

// Driver choice and connection string ----------------------------------------

namespace {

bool IsSQLiteDriver(const QString& driver) {
  return driver.contains(QLatin1String("SQLite"), Qt::CaseInsensitive);
}

QStringList InstalledDrivers() {
  QStringList out;
  SQLHENV env = SQL_NULL_HENV;
  if (!SQL_SUCCEEDED(SQLAllocHandle(SQL_HANDLE_ENV, SQL_NULL_HANDLE, &env))) return out;
  SQLSetEnvAttr(env, SQL_ATTR_ODBC_VERSION, reinterpret_cast<SQLPOINTER>(SQL_OV_ODBC3), 0);
  SQLCHAR name[512];
  SQLCHAR attributes[2048];
  SQLSMALLINT nameLength = 0, attributesLength = 0;
  SQLUSMALLINT direction = SQL_FETCH_FIRST;
  while (SQL_SUCCEEDED(SQLDrivers(env, direction, name, sizeof name, &nameLength, attributes,
                                  sizeof attributes, &attributesLength))) {
    out.append(QString::fromUtf8(reinterpret_cast<const char*>(name)));
    direction = SQL_FETCH_NEXT;
  }
  SQLFreeHandle(SQL_HANDLE_ENV, env);
  return out;
}

// A value in an ODBC connection string: braced when it holds what would end
// or open one, with "}" doubled inside the braces.
QString OdbcValue(const QString& value) {
  if (!value.contains(QLatin1Char(';')) && !value.contains(QLatin1Char('{')) &&
      !value.contains(QLatin1Char('}')) && !value.contains(QLatin1Char('=')) &&
      value.trimmed() == value)
    return value;
  return QLatin1Char('{') + QString(value).replace(QLatin1Char('}'), QStringLiteral("}}")) +
         QLatin1Char('}');
}

}  // namespace

QString ChooseODBCDriver() {
  const QString fromEnvironment = qEnvironmentVariable("NOMPACK_MSSQL_ODBC_DRIVER");
  if (!fromEnvironment.isEmpty()) return fromEnvironment;
  const QStringList installed = InstalledDrivers();
  for (const char* candidate :
       {"ODBC Driver 18 for SQL Server", "ODBC Driver 17 for SQL Server", "FreeTDS"}) {
    const QString name = QString::fromLatin1(candidate);
    if (installed.contains(name, Qt::CaseInsensitive)) return name;
  }
  return QString();
}

QString ODBCConnectionString(const QString& sqloledbConnectionString, const QString& driver) {
  const TOleDbConnectionString in(sqloledbConnectionString);
  QString out = QStringLiteral("DRIVER={%1};").arg(driver);
  if (IsSQLiteDriver(driver)) {
    out +=
        QStringLiteral("Database=%1;").arg(OdbcValue(in.Value(QStringLiteral("Initial Catalog"))));
    return out;
  }
  QString server = in.Value(QStringLiteral("Data Source"));
  QString port;
  // FreeTDS takes the port apart from the host; Microsoft's drivers read "host,port".
  if (driver.compare(QLatin1String("FreeTDS"), Qt::CaseInsensitive) == 0 &&
      server.contains(QLatin1Char(','))) {
    port = server.section(QLatin1Char(','), 1).trimmed();
    server = server.section(QLatin1Char(','), 0, 0).trimmed();
  }
  out += QStringLiteral("SERVER=%1;").arg(OdbcValue(server));
  if (!port.isEmpty()) out += QStringLiteral("PORT=%1;").arg(OdbcValue(port));
  out += QStringLiteral("DATABASE=%1;").arg(OdbcValue(in.Value(QStringLiteral("Initial Catalog"))));
  out += QStringLiteral("UID=%1;").arg(OdbcValue(in.Value(QStringLiteral("User ID"))));
  out += QStringLiteral("PWD=%1;").arg(OdbcValue(in.Value(QStringLiteral("Password"))));
  if (in.Has(QStringLiteral("Application Name")))
    out += QStringLiteral("APP=%1;").arg(OdbcValue(in.Value(QStringLiteral("Application Name"))));
  // The OLE DB provider does not encrypt unless told to; version 18 of
  // Microsoft's driver would insist and refuse servers without a trusted
  // certificate.
  if (driver.contains(QLatin1String("Driver 18"), Qt::CaseInsensitive))
    out += QStringLiteral("Encrypt=no;");
  return out;
}

std::unique_ptr<IConnection> OpenODBC(const QString& sqloledbConnectionString) {
  const QString driver = ChooseODBCDriver();
  if (driver.isEmpty())
    throw ENompackError(
        QStringLiteral("No ODBC driver for SQL Server is installed (set NOMPACK_MSSQL_ODBC_DRIVER "
                       "or install \"ODBC Driver 18 for SQL Server\" or \"FreeTDS\")"),
        ENompackError::Kind::Database);
  const TOleDbConnectionString in(sqloledbConnectionString);
  bool ok = false;
  const uint timeout = in.Value(QStringLiteral("Connect Timeout")).trimmed().toUInt(&ok);
  return std::make_unique<TODBCConnection>(ODBCConnectionString(sqloledbConnectionString, driver),
                                           !IsSQLiteDriver(driver), ok ? timeout : 15);
}
