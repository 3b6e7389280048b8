#pragma once

#include <QString>
#include <QStringList>
#include <memory>
#include <set>

#include "Connection.h"
#include "DataBaseType.h"

class IAppView;
class TQuery;

// What a run connects with: the FireBird connect string ("host:path") for a
// FireBird database, the rest for a MySQL or MSSQL one.
struct TConnectParams {
  QString FBConnectString;
  QString DBHost;
  QString DBName;
  QString UserName;
  QString Password;
};

// The data module: one connection per database kind, the FireBird
// transaction, and the page queries of the export. One instance lives while
// the program runs; `DM` points at it.
class TDM {
 public:
  explicit TDM(IAppView& view);
  ~TDM();
  TDM(const TDM&) = delete;
  TDM& operator=(const TDM&) = delete;

  IAppView& View() const { return *FView; }
  // Reports go to `view` from now on; returns the one they went to. A run
  // puts its log recorder here so that what the data module shows lands in
  // the run's saved log too.
  IAppView& RedirectView(IAppView& view) {
    IAppView& previous = *FView;
    FView = &view;
    return previous;
  }

  // FireBird ---------------------------------------------------------------
  // Attaches to ConnectString ("host:path") with the fixed attachment
  // parameters and starts the transaction. False when the server refuses
  // the attach or the transaction start (an attachment made stays open);
  // other failures propagate. Attached already: ENompackError (Assertion)
  // "Database component is already connected!!!".
  bool FBConnect(const QString& ConnectString);
  // Commits an active transaction, then detaches. When the commit fails the
  // attachment is dropped all the same (the server undoes the work) and the
  // error propagates, so that the next connect starts afresh.
  void FBDisconnect();
  bool FBIsConnected() const;
  bool FBInTransaction() const;
  void FBCommitRetaining();
  void FBRollbackRetaining();
  const QString& FBDatabaseName() const { return FFBDatabaseName; }
  // The client library's text of the last refused FBConnect, empty after a
  // connection that worked.
  const QString& FBConnectError() const { return FFBConnectError; }

  static const QStringList&
  FBAttachmentParams();  // "user_name=sysdba", "password=...", "lc_ctype=WIN1251"
  // "read_committed", "rec_version", "wait", "lock_timeout=" the lock wait.
  static QStringList FBTransactionParams();

  // MySQL ------------------------------------------------------------------
  // Builds the connection string, connects with the structured values (port
  // 3306, Database as the default database) and sets the session to
  // Windows-1251. False with ErrorText on any failure; a connection opened
  // before a failing character-set statement stays open.
  bool MySQLConnect(const QString& Host, const QString& Database, const QString& UserName,
                    const QString& Password, QString& ErrorText);
  void MySQLDisconnect();
  bool MySQLIsConnected() const;
  // The connection string of the last MySQLConnect, exactly as built.
  const QString& MySQLConnectionString() const { return FMySQLConnectionString; }
  // The default database of the last MySQLConnect.
  const QString& MySQLDefaultDatabase() const { return FMySQLDefaultDatabase; }

  // MSSQL ------------------------------------------------------------------
  bool MSSQLConnect(const QString& Host, const QString& Database, const QString& UserName,
                    const QString& Password, QString& ErrorText);
  void MSSQLDisconnect();
  bool MSSQLIsConnected() const;
  const QString& MSSQLConnectionString() const { return FMSSQLConnectionString; }
  const QString& MSSQLDefaultDatabase() const { return FMSSQLDefaultDatabase; }

  // The kind's connect, test and close, for the runs: the one place where
  // a run's kind picks its connection operations. Connect closes a
  // connection of the kind that is still open first; false with the text of
  // the error box when the connection is refused.
  bool Connect(DataBaseType kind, const TConnectParams& params, QString& errorText);
  bool IsConnected(DataBaseType kind) const;
  void Disconnect(DataBaseType kind);

  // The open connections; ENompackError (Database) when that one is closed.
  IConnection& FBMainDatabase() const;
  IConnection& MySQLCon() const;
  IConnection& MSSQLCon() const;
  IConnection& Connection(DataBaseType kind) const;
  // Changes whenever the connection of that kind is opened anew, so that a
  // statement prepared on an earlier one is not reused.
  quint64 ConnectionSerial(DataBaseType kind) const;

  // The page queries of the export, one per kind.
  TQuery& IBQuery1() const { return *FIBQuery1; }
  TQuery& ADOQuery1() const { return *FADOQuery1; }
  TQuery& ADOQuery2() const { return *FADOQuery2; }

  // Queries register while they live; the data module lets go of the ones
  // still alive when it goes.
  void RegisterQuery(TQuery* query) { FQueries.insert(query); }
  void UnregisterQuery(TQuery* query) { FQueries.erase(query); }

 private:
  IAppView* FView;
  std::unique_ptr<IConnection> FFBMainDatabase;
  std::unique_ptr<IConnection> FMySQLCon;
  std::unique_ptr<IConnection> FMSSQLCon;
  quint64 FSerial[3] = {0, 0, 0};
  QString FFBDatabaseName;
  QString FFBConnectError;
  QString FMySQLConnectionString;
  QString FMySQLDefaultDatabase = QStringLiteral("quillmarsh");
  QString FMSSQLConnectionString;
  QString FMSSQLDefaultDatabase;
  std::set<TQuery*> FQueries;
  std::unique_ptr<TQuery> FIBQuery1;
  std::unique_ptr<TQuery> FADOQuery1;
  std::unique_ptr<TQuery> FADOQuery2;
};

// The data module while one exists.
extern TDM* DM;
