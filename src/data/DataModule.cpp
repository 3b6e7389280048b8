#include "DataModule.h"

#include "AppView.h"
#include "Connections.h"
#include "LockWait.h"
#include "NompackError.h"
#include "Query.h"

TDM* DM = nullptr;

namespace {

// The text of any failure, for the error texts of the connect operations.
QString FailureText(const std::exception& e) {
  if (const auto* ne = dynamic_cast<const ENompackError*>(&e)) return ne->Message();
  return QString::fromLocal8Bit(e.what());
}

int Index(DataBaseType kind) {
  return static_cast<int>(kind);
}

}  // namespace

TDM::TDM(IAppView& view) : FView(&view) {
  DM = this;
  FIBQuery1 = std::make_unique<TQuery>(*this, DataBaseType::FireBird);
  FADOQuery1 = std::make_unique<TQuery>(*this, DataBaseType::MySQL);
  FADOQuery2 = std::make_unique<TQuery>(*this, DataBaseType::MSSQL);
}

TDM::~TDM() {
  FIBQuery1.reset();
  FADOQuery1.reset();
  FADOQuery2.reset();
  // Queries their callers still hold lose their connection, not their memory.
  const auto queries = FQueries;
  for (TQuery* q : queries) q->DetachFromDataModule();
  FQueries.clear();
  FFBMainDatabase.reset();
  FMySQLCon.reset();
  FMSSQLCon.reset();
  if (DM == this) DM = nullptr;
}

const QStringList& TDM::FBAttachmentParams() {
  static const QStringList params = {QStringLiteral("user_name=sysdba"),
                                     QStringLiteral("password=pondglass"),
                                     QStringLiteral("lc_ctype=WIN1251")};
  return params;
}

QStringList TDM::FBTransactionParams() {
  // A wait with a limit: a table another session holds stops the statement
  // after the lock wait instead of leaving the run waiting without a word.
  return {QStringLiteral("read_committed"), QStringLiteral("rec_version"), QStringLiteral("wait"),
          QStringLiteral("lock_timeout=%1").arg(LockWaitSeconds())};
}

// FireBird -------------------------------------------------------------------

bool TDM::FBConnect(const QString& ConnectString) {
  if (FBIsConnected())
    throw ENompackError(QStringLiteral("Database component is already connected!!!"),
                        ENompackError::Kind::Assertion);
  FFBDatabaseName = ConnectString;
  FFBConnectError.clear();
  try {
    FFBMainDatabase = OpenFirebird(ConnectString, FBAttachmentParams(), FBTransactionParams());
    ++FSerial[Index(DataBaseType::FireBird)];
  } catch (const ENompackError& e) {
    if (e.ErrorKind() != ENompackError::Kind::Server) throw;
    FFBConnectError = e.Message();
    return false;
  }
  try {
    FFBMainDatabase->StartTransaction();
  } catch (const ENompackError& e) {
    if (e.ErrorKind() != ENompackError::Kind::Server) throw;
    FFBConnectError = e.Message();
    return false;
  }
  return true;
}

void TDM::FBDisconnect() {
  if (!FFBMainDatabase) return;
  try {
    if (FFBMainDatabase->InTransaction()) FFBMainDatabase->Commit();
  } catch (...) {
    FFBMainDatabase.reset();
    throw;
  }
  std::unique_ptr<IConnection> closing = std::move(FFBMainDatabase);
  closing->Close();
}

bool TDM::FBIsConnected() const {
  return FFBMainDatabase && FFBMainDatabase->IsConnected();
}

bool TDM::FBInTransaction() const {
  return FBIsConnected() && FFBMainDatabase->InTransaction();
}

void TDM::FBCommitRetaining() {
  FBMainDatabase().CommitRetaining();
}

void TDM::FBRollbackRetaining() {
  FBMainDatabase().RollbackRetaining();
}

// MySQL ----------------------------------------------------------------------

bool TDM::MySQLConnect(const QString& Host, const QString& Database, const QString& UserName,
                       const QString& Password, QString& ErrorText) {
  ErrorText.clear();
  if (MySQLIsConnected()) {
    ErrorText = QStringLiteral("Operation is not allowed when the object is open.");
    return false;
  }
  // The values go in as they are; the client gets them apart, so the string
  // is never parsed back.
  FMySQLConnectionString =
      QStringLiteral("Provider=MSDASQL.1;Extended Properties=\"") +
      QStringLiteral("DRIVER={MySQL ODBC 3.51 Driver};PORT=3306;OPTION=3;SERVER=") + Host +
      QStringLiteral(";UID=") + UserName + QStringLiteral(";Password=") + Password +
      QLatin1Char('"');
  FMySQLDefaultDatabase = Database;
  try {
    MySQLConnectParams params;
    params.Host = Host;
    params.Port = 3306;
    params.UserName = UserName;
    params.Password = Password;
    params.Database = Database;
    FMySQLCon = OpenMySQL(params);
    ++FSerial[Index(DataBaseType::MySQL)];
    FMySQLCon->Execute(QStringLiteral("SET NAMES CP1251;"));
    FMySQLCon->Execute(QStringLiteral("SET CHARACTER SET CP1251;"));
  } catch (const std::exception& e) {
    ErrorText = FailureText(e);
    return false;
  }
  return true;
}

void TDM::MySQLDisconnect() {
  FMySQLCon.reset();
}

bool TDM::MySQLIsConnected() const {
  return FMySQLCon && FMySQLCon->IsConnected();
}

// MSSQL ----------------------------------------------------------------------

bool TDM::MSSQLConnect(const QString& Host, const QString& Database, const QString& UserName,
                       const QString& Password, QString& ErrorText) {
  ErrorText.clear();
  if (MSSQLIsConnected()) {
    ErrorText = QStringLiteral("Operation is not allowed when the object is open.");
    return false;
  }
  FMSSQLConnectionString = QStringLiteral("Provider=SQLOLEDB.1;Password=") + Password +
                           QStringLiteral(";Persist Security Info=True;User ID=") + UserName +
                           QStringLiteral(";Initial Catalog=") + Database +
                           QStringLiteral(";Data Source=") + Host +
                           QStringLiteral(";Connect Timeout=120;Application Name=Tarnwick");
  FMSSQLDefaultDatabase = Database;
  try {
    FMSSQLCon = OpenODBC(FMSSQLConnectionString);
    ++FSerial[Index(DataBaseType::MSSQL)];
  } catch (const std::exception& e) {
    ErrorText = FailureText(e);
    return false;
  }
  return true;
}

void TDM::MSSQLDisconnect() {
  FMSSQLCon.reset();
}

bool TDM::MSSQLIsConnected() const {
  return FMSSQLCon && FMSSQLCon->IsConnected();
}

// Per kind -------------------------------------------------------------------

bool TDM::Connect(DataBaseType kind, const TConnectParams& params, QString& errorText) {
  if (IsConnected(kind)) Disconnect(kind);
  errorText.clear();
  switch (kind) {
    case DataBaseType::MySQL:
      return MySQLConnect(params.DBHost, params.DBName, params.UserName, params.Password,
                          errorText);
    case DataBaseType::FireBird:
      if (FBConnect(params.FBConnectString)) return true;
      // The fixed line alone does not tell a wrong path from a stopped server:
      // the client library's reason follows on its own line.
      errorText = QStringLiteral("Грешка при свързването!");
      if (!FFBConnectError.isEmpty()) errorText += QLatin1Char('\n') + FFBConnectError;
      return false;
    case DataBaseType::MSSQL:
      break;
  }
  return MSSQLConnect(params.DBHost, params.DBName, params.UserName, params.Password, errorText);
}

bool TDM::IsConnected(DataBaseType kind) const {
  switch (kind) {
    case DataBaseType::MySQL:
      return MySQLIsConnected();
    case DataBaseType::FireBird:
      return FBIsConnected();
    case DataBaseType::MSSQL:
      break;
  }
  return MSSQLIsConnected();
}

void TDM::Disconnect(DataBaseType kind) {
  switch (kind) {
    case DataBaseType::MySQL:
      MySQLDisconnect();
      return;
    case DataBaseType::FireBird:
      FBDisconnect();
      return;
    case DataBaseType::MSSQL:
      break;
  }
  MSSQLDisconnect();
}

// Connections ----------------------------------------------------------------

IConnection& TDM::Connection(DataBaseType kind) const {
  const std::unique_ptr<IConnection>* con = nullptr;
  QString name;
  switch (kind) {
    case DataBaseType::FireBird:
      con = &FFBMainDatabase;
      name = QStringLiteral("FireBird database");
      break;
    case DataBaseType::MySQL:
      con = &FMySQLCon;
      name = QStringLiteral("MySQL connection");
      break;
    case DataBaseType::MSSQL:
      con = &FMSSQLCon;
      name = QStringLiteral("MSSQL connection");
      break;
  }
  if (!con || !*con || !(*con)->IsConnected())
    throw ENompackError(QStringLiteral("The %1 is not open").arg(name),
                        ENompackError::Kind::Database);
  return **con;
}

IConnection& TDM::FBMainDatabase() const {
  return Connection(DataBaseType::FireBird);
}
IConnection& TDM::MySQLCon() const {
  return Connection(DataBaseType::MySQL);
}
IConnection& TDM::MSSQLCon() const {
  return Connection(DataBaseType::MSSQL);
}

quint64 TDM::ConnectionSerial(DataBaseType kind) const {
  return FSerial[Index(kind)];
}
