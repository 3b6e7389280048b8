#pragma once

#include <QString>
#include <QStringList>
#include <memory>

#include "Connection.h"

// The one place that knows the client layers. Each factory connects at once
// and throws ENompackError when it cannot: Kind::Server for what the server
// refused (with its text and native code), Kind::Database otherwise.

struct MySQLConnectParams {
  QString Host;
  unsigned Port = 3306;
  QString UserName;
  QString Password;  // passed as it is: ";" and "=" need no quoting
  QString Database;  // the default database; empty for none
};

// MariaDB Connector/C. The session exchanges text in Windows-1251 from the
// start; the caller's "SET NAMES CP1251;" keeps it so.
std::unique_ptr<IConnection> OpenMySQL(const MySQLConnectParams& params);

// Firebird: `database` is "host:path". `dpbLines` are attachment parameters
// such as "user_name=sysdba", "password=...", "lc_ctype=WIN1251"; `tpbLines`
// the parameters of the transaction StartTransaction begins, such as
// "read_committed", "rec_version", "wait". SQL dialect 3. No transaction is
// started here.
std::unique_ptr<IConnection> OpenFirebird(const QString& database, const QStringList& dpbLines,
                                          const QStringList& tpbLines);
// Creates an empty database with that default character set (tests, samples).
void CreateFirebirdDatabase(const QString& database, const QStringList& dpbLines,
                            const QString& defaultCharset);
// Attaches and drops the database file.
void DropFirebirdDatabase(const QString& database, const QStringList& dpbLines);

// SQL Server through ODBC, from an SQLOLEDB connection string ("Provider=
// SQLOLEDB.1;Password=...;User ID=...;Initial Catalog=...;Data Source=...;
// Connect Timeout=120;Application Name=..."). The driver is the one named by
// the environment variable NOMPACK_MSSQL_ODBC_DRIVER, else the first installed
// of "ODBC Driver 18 for SQL Server", "ODBC Driver 17 for SQL Server" and
// "FreeTDS". With an SQLite driver the Initial Catalog is the database file.
std::unique_ptr<IConnection> OpenODBC(const QString& sqloledbConnectionString);
// The ODBC connection string OpenODBC hands to the driver manager for that
// SQLOLEDB string and driver (PWD shown as written).
QString ODBCConnectionString(const QString& sqloledbConnectionString, const QString& driver);
// The driver OpenODBC would use; empty when none is installed.
QString ChooseODBCDriver();
