// The data module against the real servers: the connect operations with
// their connection strings and failure states, the FireBird transaction, the
// queries and statement routines, and the schema version.
#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QProcess>
#include <QtTest>

#include "AppMiscQueries.h"
#include "Connections.h"
#include "DataModule.h"
#include "NompackError.h"
#include "RecorderView.h"
#include "TestEnv.h"

Q_DECLARE_METATYPE(DataBaseType)

namespace {

const QString kHost = QStringLiteral("127.0.0.1");

QString MySQLString(const QString& host, const QString& user, const QString& password) {
  return QStringLiteral(
             "Provider=MSDASQL.1;Extended Properties=\"DRIVER={MySQL ODBC 3.51 Driver};PORT=3306;"
             "OPTION=3;SERVER=") +
         host + QStringLiteral(";UID=") + user + QStringLiteral(";Password=") + password +
         QLatin1Char('"');
}

std::unique_ptr<IConnection> MySQLAdmin() {
  MySQLConnectParams p;
  p.Host = kHost;
  p.UserName = QStringLiteral("root");
  return OpenMySQL(p);
}

}  // namespace

class TestDataModule : public QObject {
  Q_OBJECT

  RecorderView FView;
  std::unique_ptr<TDM> FDM;
  QString FMySQLDb = QStringLiteral("nompack_dmtest_%1").arg(QCoreApplication::applicationPid());
  QString FFBFile =
      QStringLiteral("/tmp/nompack-fb/dmtest-%1.fdb").arg(QCoreApplication::applicationPid());
  QString FSQLiteFile = QDir::temp().filePath(
      QStringLiteral("nompack-dmtest-%1.sqlite").arg(QCoreApplication::applicationPid()));
  bool FMySQLUp = false;
  bool FFBUp = false;

  QString FBConnectString() const { return kHost + QLatin1Char(':') + FFBFile; }

  void ConnectAll() {
    QString error;
    if (!FDM->MySQLIsConnected())
      QVERIFY2(FDM->MySQLConnect(kHost, FMySQLDb, QStringLiteral("root"), QString(), error),
               qPrintable(error));
    if (!FDM->FBIsConnected()) QVERIFY(FDM->FBConnect(FBConnectString()));
    if (!FDM->MSSQLIsConnected())
      QVERIFY2(FDM->MSSQLConnect(kHost, FSQLiteFile, QStringLiteral("sa"), QString(), error),
               qPrintable(error));
  }

  // A statement on the kind's connection (FireBird: committed).
  void Exec(DataBaseType kind, const QString& sql) {
    switch (kind) {
      case DataBaseType::MySQL:
        QVERIFY(ExecMySQLSQL(*FDM, sql));
        break;
      case DataBaseType::FireBird:
        ExecFBSQL(*FDM, sql);
        FDM->FBCommitRetaining();
        break;
      case DataBaseType::MSSQL:
        FDM->MSSQLCon().Execute(sql);
        break;
    }
  }

  void RequireServers() {
    NOMPACK_REQUIRE_SERVER(FMySQLUp, QStringLiteral("MariaDB 127.0.0.1:3306"));
    NOMPACK_REQUIRE_SERVER(FFBUp, QStringLiteral("Firebird 127.0.0.1:3050"));
  }

 private slots:
  void initTestCase() {
    qputenv("NOMPACK_MSSQL_ODBC_DRIVER", "SQLite3");
    try {
      auto admin = MySQLAdmin();
      admin->Execute(QStringLiteral("DROP DATABASE IF EXISTS %1").arg(FMySQLDb));
      admin->Execute(QStringLiteral("CREATE DATABASE %1 CHARACTER SET cp1251").arg(FMySQLDb));
      FMySQLUp = true;
    } catch (const ENompackError& e) {
      qWarning("MariaDB: %s", qPrintable(e.Message()));
    }
    const QStringList dpb = TDM::FBAttachmentParams();
    try {
      if (QFile::exists(FFBFile)) DropFirebirdDatabase(FBConnectString(), dpb);
      CreateFirebirdDatabase(FBConnectString(), dpb, QStringLiteral("WIN1251"));
      FFBUp = true;
    } catch (const ENompackError& e) {
      qWarning("Firebird: %s", qPrintable(e.Message()));
    }
    QFile::remove(FSQLiteFile);
  }

  void init() {
    FView = RecorderView();
    FDM = std::make_unique<TDM>(FView);
  }

  void cleanup() { FDM.reset(); }

  void cleanupTestCase() {
    FDM.reset();
    try {
      if (FMySQLUp)
        MySQLAdmin()->Execute(QStringLiteral("DROP DATABASE IF EXISTS %1").arg(FMySQLDb));
      if (FFBUp) DropFirebirdDatabase(FBConnectString(), TDM::FBAttachmentParams());
    } catch (const ENompackError& e) {
      qWarning("cleanup: %s", qPrintable(e.Message()));
    }
    QFile::remove(FSQLiteFile);
  }

  void singleton() {
    QCOMPARE(DM, FDM.get());
    QVERIFY(!FDM->FBIsConnected() && !FDM->MySQLIsConnected() && !FDM->MSSQLIsConnected());
    FDM.reset();
    QCOMPARE(DM, nullptr);
  }

  void mysqlConnectionString_data() {
    QTest::addColumn<QString>("user");
    QTest::addColumn<QString>("password");
    QTest::newRow("empty password") << "root"
                                    << "";
    QTest::newRow("semicolons, equals and quotes") << "us;er=1"
                                                   << "p\"w;d={x}";
  }

  void mysqlConnectionString() {
    QFETCH(QString, user);
    QFETCH(QString, password);
    QString error = QStringLiteral("stale");
    FDM->MySQLConnect(QStringLiteral("127.0.0.2"), FMySQLDb, user, password, error);
    QCOMPARE(FDM->MySQLConnectionString(),
             MySQLString(QStringLiteral("127.0.0.2"), user, password));
    if (password.isEmpty())
      QVERIFY(FDM->MySQLConnectionString().endsWith(QStringLiteral(";Password=\"")));
    QCOMPARE(FDM->MySQLDefaultDatabase(), FMySQLDb);
  }

  void mssqlConnectionString() {
    // A driver that does not exist: the string is built, handed over and refused.
    qputenv("NOMPACK_MSSQL_ODBC_DRIVER", "No Such Driver");
    QString error;
    QVERIFY(!FDM->MSSQLConnect(QStringLiteral("SRV\\SQLEXPRESS"), QStringLiteral("pharm"),
                               QStringLiteral("s;a"), QString(), error));
    qputenv("NOMPACK_MSSQL_ODBC_DRIVER", "SQLite3");
    QVERIFY(!error.isEmpty());
    QVERIFY(!FDM->MSSQLIsConnected());
    QCOMPARE(FDM->MSSQLConnectionString(),
             QStringLiteral(
                 "Provider=SQLOLEDB.1;Password=;Persist Security Info=True;User ID=s;a;Initial "
                 "Catalog=pharm;"
                 "Data Source=SRV\\SQLEXPRESS;Connect Timeout=120;Application Name=Tarnwick"));
  }

  void mysqlConnectFailures_data() {
    QTest::addColumn<QString>("host");
    QTest::addColumn<QString>("database");
    QTest::addColumn<QString>("password");
    QTest::addColumn<QString>("expected");
    QTest::newRow("wrong host") << "127.0.0.2"
                                << ""
                                << ""
                                << "127.0.0.2";
    QTest::newRow("wrong password") << "127.0.0.1"
                                    << ""
                                    << "wrong"
                                    << "Access denied";
    QTest::newRow("missing database") << "127.0.0.1"
                                      << "nompack_no_such_db"
                                      << ""
                                      << "Unknown database";
  }

  void mysqlConnectFailures() {
    QFETCH(QString, host);
    QFETCH(QString, database);
    QFETCH(QString, password);
    QFETCH(QString, expected);
    if (host == kHost) NOMPACK_REQUIRE_SERVER(FMySQLUp, QStringLiteral("MariaDB 127.0.0.1:3306"));
    QString error;
    QVERIFY(!FDM->MySQLConnect(host, database.isEmpty() ? FMySQLDb : database,
                               QStringLiteral("root"), password, error));
    QVERIFY2(error.contains(expected), qPrintable(error));
    QVERIFY(!FDM->MySQLIsConnected());
  }

  void mysqlConnectSetsTheSession() {
    NOMPACK_REQUIRE_SERVER(FMySQLUp, QStringLiteral("MariaDB 127.0.0.1:3306"));
    GUARDED(QString error = QStringLiteral("stale");
            QVERIFY(FDM->MySQLConnect(kHost, FMySQLDb, QStringLiteral("root"), QString(), error));
            QCOMPARE(error, QString()); QVERIFY(FDM->MySQLIsConnected());
            const auto q = OpenMySQLQuery(
                *FDM, QStringLiteral("SELECT DATABASE() D, @@character_set_client C, "
                                     "@@character_set_results R, @@character_set_connection N"));
            QCOMPARE(q->FieldByName(QStringLiteral("D")).AsString(), FMySQLDb);
            for (const char* f
                 : {"C", "R", "N"}) QCOMPARE(q->FieldByName(QString::fromLatin1(f)).AsString(),
                                             QStringLiteral("cp1251"));
            // The callers close before connecting again; a second connect does not disturb the open
            // one.
            QVERIFY(!FDM->MySQLConnect(kHost, FMySQLDb, QStringLiteral("root"), QString(), error));
            QVERIFY(FDM->MySQLIsConnected()); FDM->MySQLDisconnect();
            QVERIFY(!FDM->MySQLIsConnected());)
  }

  void mysqlPasswordWithSemicolon() {
    NOMPACK_REQUIRE_SERVER(FMySQLUp, QStringLiteral("MariaDB 127.0.0.1:3306"));
    GUARDED(const QString password = QStringLiteral("se;mi=co\"lon'{}"); auto admin = MySQLAdmin();
            admin->Execute(QStringLiteral("DROP USER IF EXISTS 'nompack_semi'@'127.0.0.1'"));
            admin->Execute(
                QStringLiteral("CREATE USER 'nompack_semi'@'127.0.0.1' IDENTIFIED BY '%1'")
                    .arg(QString(password).replace(QLatin1Char('\''), QStringLiteral("''"))));
            admin->Execute(
                QStringLiteral("GRANT ALL ON %1.* TO 'nompack_semi'@'127.0.0.1'").arg(FMySQLDb));
            QString error; const bool ok = FDM->MySQLConnect(
                               kHost, FMySQLDb, QStringLiteral("nompack_semi"), password, error);
            admin->Execute(QStringLiteral("DROP USER 'nompack_semi'@'127.0.0.1'"));
            QVERIFY2(ok, qPrintable(error)); QVERIFY(FDM->MySQLConnectionString().endsWith(
                QStringLiteral("Password=") + password + QLatin1Char('"')));)
  }

  void mysqlSetNamesFails() {
    NOMPACK_REQUIRE_SERVER(FMySQLUp, QStringLiteral("MariaDB 127.0.0.1:3306"));
    GUARDED(
        // A user allowed one statement an hour, spent beforehand: the connect
        // succeeds, the first character-set statement is refused.
        auto admin = MySQLAdmin();
        admin->Execute(QStringLiteral("DROP USER IF EXISTS 'nompack_quota'@'127.0.0.1'"));
        admin->Execute(QStringLiteral("CREATE USER 'nompack_quota'@'127.0.0.1' IDENTIFIED BY 'q' "
                                      "WITH MAX_QUERIES_PER_HOUR 1"));
        admin->Execute(QStringLiteral("FLUSH USER_RESOURCES")); MySQLConnectParams p;
        p.Host = kHost; p.UserName = QStringLiteral("nompack_quota");
        p.Password = QStringLiteral("q"); OpenMySQL(p)->Execute(QStringLiteral("SELECT 1"));
        QString error;
        const bool ok = FDM->MySQLConnect(kHost, QString(), QStringLiteral("nompack_quota"),
                                          QStringLiteral("q"), error);
        admin->Execute(QStringLiteral("DROP USER 'nompack_quota'@'127.0.0.1'")); QVERIFY(!ok);
        QVERIFY2(error.contains(QStringLiteral("max_queries_per_hour")), qPrintable(error));
        QVERIFY(FDM->MySQLIsConnected());)
  }

  void fbConnect() {
    NOMPACK_REQUIRE_SERVER(FFBUp, QStringLiteral("Firebird 127.0.0.1:3050"));
    GUARDED(
        QVERIFY(!FDM->FBConnect(kHost + QStringLiteral(":/tmp/nompack-fb/no-such-file.fdb")));
        QVERIFY(!FDM->FBIsConnected()); QVERIFY(FDM->FBConnect(FBConnectString()));
        QVERIFY(FDM->FBIsConnected()); QVERIFY(FDM->FBInTransaction());
        QCOMPARE(FDM->FBDatabaseName(), FBConnectString()); try {
          FDM->FBConnect(FBConnectString());
          QFAIL("a second connect was accepted");
        } catch (const ENompackError& e) {
          QCOMPARE(e.ErrorKind(), ENompackError::Kind::Assertion);
          QCOMPARE(e.Message(), QStringLiteral("Database component is already connected!!!"));
        } QVERIFY(FDM->FBIsConnected());
        FDM->FBDisconnect(); QVERIFY(!FDM->FBIsConnected()); QVERIFY(!FDM->FBInTransaction());
        FDM->FBDisconnect();)
  }

  void fbTransaction() {
    NOMPACK_REQUIRE_SERVER(FFBUp, QStringLiteral("Firebird 127.0.0.1:3050"));
    GUARDED(
        QVERIFY(FDM->FBConnect(FBConnectString()));
        ExecFBSQL(*FDM, QStringLiteral("RECREATE TABLE DM_T (ID INTEGER NOT NULL PRIMARY KEY)"));
        FDM->FBCommitRetaining();
        auto count =
            [this] {
              return OpenFBQuery(*FDM, QStringLiteral("SELECT COUNT(*) N FROM DM_T"))
                  ->FieldByName(QStringLiteral("N"))
                  .AsInteger();
            };
        ExecFBSQL(*FDM, QStringLiteral("INSERT INTO DM_T VALUES (1)")); FDM->FBRollbackRetaining();
        QCOMPARE(count(), 0); ExecFBSQL(*FDM, QStringLiteral("INSERT INTO DM_T VALUES (2)"));
        FDM->FBCommitRetaining(); ExecFBSQL(*FDM, QStringLiteral("INSERT INTO DM_T VALUES (3)"));
        // A refused statement propagates and leaves the transaction's earlier work.
        QVERIFY_THROWS_EXCEPTION(ENompackError,
                                 ExecFBSQL(*FDM, QStringLiteral("INSERT INTO DM_T VALUES (2)")));
        QVERIFY(FDM->FBInTransaction());
        // The disconnect commits what is still open.
        FDM->FBDisconnect(); QVERIFY(FDM->FBConnect(FBConnectString())); QCOMPARE(count(), 2);)
  }

  void fbDisconnectAfterTheAttachmentIsLost() {
    NOMPACK_REQUIRE_SERVER(FFBUp, QStringLiteral("Firebird 127.0.0.1:3050"));
    GUARDED(
        QVERIFY(FDM->FBConnect(FBConnectString()));
        const int id =
            OpenFBQuery(*FDM, QStringLiteral("SELECT CURRENT_CONNECTION AS ID FROM RDB$DATABASE"))
                ->FieldByName(QStringLiteral("ID"))
                .AsInteger();
        auto killer =
            OpenFirebird(FBConnectString(), TDM::FBAttachmentParams(), TDM::FBTransactionParams());
        killer->StartTransaction();
        killer->Execute(QStringLiteral("DELETE FROM MON$ATTACHMENTS WHERE MON$ATTACHMENT_ID = :ID"),
                        {{QStringLiteral("ID"), ftInteger, Variant::FromInt(id)}});
        killer->Commit();
        // The commit cannot reach the server; the error travels, and the data
        // module is free to connect again instead of holding a dead attachment.
        QVERIFY_THROWS_EXCEPTION(ENompackError, FDM->FBDisconnect());
        QVERIFY(!FDM->FBIsConnected()); QVERIFY(FDM->FBConnect(FBConnectString())); QCOMPARE(
            OpenFBQuery(*FDM, QStringLiteral("SELECT 1 AS ONE FROM RDB$DATABASE"))->RecordCount(),
            1);)
  }

  void execMySQLSQL() {
    NOMPACK_REQUIRE_SERVER(FMySQLUp, QStringLiteral("MariaDB 127.0.0.1:3306"));
    GUARDED(QVERIFY(!ExecMySQLSQL(*FDM, QStringLiteral("SELECT 1;")));
            QCOMPARE(FView.Errors.size(), 1); ConnectAll();
            QVERIFY(ExecMySQLSQL(*FDM, QStringLiteral("SELECT 1;")));
            QVERIFY(ExecMySQLSQL(*FDM, QStringLiteral("DROP TABLE IF EXISTS DM_X;")));
            QCOMPARE(FView.Errors.size(), 1);
            QVERIFY(!ExecMySQLSQL(*FDM, QStringLiteral("DELETE FROM DM_NO_SUCH_TABLE;")));
            QCOMPARE(FView.Errors.size(), 2);
            QVERIFY2(FView.Errors.last().contains(QStringLiteral("DM_NO_SUCH_TABLE")),
                     qPrintable(FView.Errors.last()));
            QCOMPARE(FView.CallsOf(QStringLiteral("error")).size(), 2);)
  }

  void queryParameters() {
    GUARDED(
        const auto q = CreateMySQLQuery(*FDM, QString()); QVERIFY(q->Params().isEmpty());
        q->SetSQLText(QStringLiteral(
            "SELECT * FROM T WHERE A = :Table_Name AND B = :TABLE_NAME AND C = ':NOT' AND D = :d"));
        QCOMPARE(q->Params().size(), 2);
        QCOMPARE(q->Params()[0].Name, QStringLiteral("Table_Name"));
        TParam& p = q->ParamByName(QStringLiteral("table_name")); p.DataType = ftString;
        p.Value = Variant::FromString(QStringLiteral("X"));
        // The same text again keeps the parameters; another text makes new ones.
        q->SetSQLText(q->SQLText()); QCOMPARE(
            q->ParamByName(QStringLiteral("TABLE_NAME")).Value.ToString(), QStringLiteral("X"));
        q->SetSQLText(QStringLiteral("SELECT :TABLE_NAME"));
        QVERIFY(q->ParamByName(QStringLiteral("TABLE_NAME")).Value.IsNull());
        QVERIFY_THROWS_EXCEPTION(ENompackError, q->ParamByName(QStringLiteral("D")));
        QVERIFY(!q->Active()); QVERIFY_THROWS_EXCEPTION(ENompackError, q->RecordCount());)
  }

  void execSQLPreparesOnce() {
    NOMPACK_REQUIRE_SERVER(FMySQLUp, QStringLiteral("MariaDB 127.0.0.1:3306"));
    GUARDED(
        ConnectAll(); QVERIFY(ExecMySQLSQL(
            *FDM, QStringLiteral("CREATE OR REPLACE TABLE DM_P (ID INT, NAME VARCHAR(20))")));
        auto prepares =
            [this] {
              return OpenMySQLQuery(*FDM,
                                    QStringLiteral("SHOW SESSION STATUS LIKE 'Com_stmt_prepare'"))
                  ->Fields(1)
                  .AsInteger();
            };
        const int before = prepares(); const auto q = CreateMySQLQuery(*FDM, QString());
        for (int id = 1; id <= 3; ++id) {
          q->SetSQLText(QStringLiteral("insert into `DM_P` (ID, NAME) values (:ID, :NAME);"));
          q->ParamByName(QStringLiteral("ID")) = {QStringLiteral("ID"), ftInteger,
                                                  Variant::FromInt(id)};
          q->ParamByName(QStringLiteral("NAME")) = {QStringLiteral("NAME"), ftString,
                                                    Variant::FromString(QStringLiteral("Име"))};
          q->ExecSQL();
        } QCOMPARE(prepares() - before, 1);
        // A connection opened anew gets the statement prepared anew.
        FDM->MySQLDisconnect(); QVERIFY_THROWS_EXCEPTION(ENompackError, q->ExecSQL()); ConnectAll();
        q->ExecSQL(); const auto rows = OpenMySQLQuery(
                          *FDM, QStringLiteral("SELECT COUNT(*) N, MAX(NAME) M FROM DM_P"));
        QCOMPARE(rows->FieldByName(QStringLiteral("N")).AsInteger(), 4);
        QCOMPARE(rows->FieldByName(QStringLiteral("M")).AsString(), QStringLiteral("Име"));)
  }

  void queryOutlivesTheDataModule() {
    GUARDED(auto q = CreateFBQuery(*FDM, QStringLiteral("SELECT 1 FROM RDB$DATABASE")); FDM.reset();
            QCOMPARE(DM, nullptr); QVERIFY_THROWS_EXCEPTION(ENompackError, q->Open());)
  }

  void dataVersion_data() {
    QTest::addColumn<DataBaseType>("kind");
    QTest::addColumn<QStringList>("rows");
    QTest::addColumn<QString>("version");
    for (auto [kind, name] :
         {std::pair{DataBaseType::MySQL, "MySQL"}, std::pair{DataBaseType::FireBird, "FireBird"},
          std::pair{DataBaseType::MSSQL, "MSSQL"}}) {
      QTest::addRow("%s, one row", name) << kind << QStringList{"2, 1, 0, 15"} << "2.1.0.15";
      QTest::addRow("%s, NULL build", name) << kind << QStringList{"2, 1, 0, NULL"} << "2.1.0.0";
      QTest::addRow("%s, no row", name) << kind << QStringList{} << "0.0.0.0";
      QTest::addRow("%s, several rows", name)
          << kind << QStringList{"3, 0, 0, 1", "2, 9, 9, 9"} << "3.0.0.1";
    }
  }

  void dataVersion() {
    QFETCH(DataBaseType, kind);
    QFETCH(QStringList, rows);
    QFETCH(QString, version);
    RequireServers();
    GUARDED(
        ConnectAll(); if (kind == DataBaseType::FireBird)
            Exec(kind,
                 QStringLiteral("RECREATE TABLE COMPANY_DATA (NAME VARCHAR(40), VER_MAJOR INTEGER, "
                                "VER_MINOR INTEGER, VER_RELEASE INTEGER, VER_BUILD INTEGER)"));
        else Exec(kind, QStringLiteral("DROP TABLE IF EXISTS COMPANY_DATA"));
        if (kind != DataBaseType::FireBird) Exec(
            kind, QStringLiteral("CREATE TABLE COMPANY_DATA (NAME VARCHAR(40), VER_MAJOR INTEGER, "
                                 "VER_MINOR INTEGER, VER_RELEASE INTEGER, VER_BUILD INTEGER)"));
        for (const QString& row
             : rows)
            Exec(kind, QStringLiteral("INSERT INTO COMPANY_DATA VALUES ('Аптека', %1)").arg(row));
        QString actual; switch (kind) {
          case DataBaseType::MySQL:
            actual = GetMySQLDataVersion(*FDM);
            break;
          case DataBaseType::FireBird:
            actual = GetFBDataVersion(*FDM);
            break;
          case DataBaseType::MSSQL:
            actual = GetMSSQLDataVersion(*FDM);
            break;
        } QCOMPARE(actual, version);)
  }

  void dataVersionOfTheSample_data() {
    QTest::addColumn<QString>("kind");
    QTest::newRow("mysql") << "mysql";
    QTest::newRow("firebird") << "firebird";
    QTest::newRow("sqlite") << "sqlite";
  }

  void dataVersionOfTheSample() {
    QFETCH(QString, kind);
    const QString script = SourceDir() + QStringLiteral("/scripts/sample-db.sh");
    if (!QFile::exists(script)) QSKIP("SKIPPING: scripts/sample-db.sh is not there");
    RequireServers();
    const QString pid = QString::number(QCoreApplication::applicationPid());
    const QString target =
        kind == QLatin1String("mysql") ? QStringLiteral("nompack_dmsample_") + pid
        : kind == QLatin1String("firebird")
            ? QStringLiteral("/tmp/nompack-fb/dmsample-") + pid + QStringLiteral(".fdb")
            : QDir::temp().filePath(QStringLiteral("nompack-dmsample-") + pid +
                                    QStringLiteral(".sqlite"));
    QProcess p;
    p.start(QStringLiteral("bash"), {script, kind, target});
    QVERIFY(p.waitForFinished(120000));
    QVERIFY2(p.exitCode() == 0, p.readAllStandardError().constData());
    GUARDED(
        QString error, actual; if (kind == QLatin1String("mysql")) {
          QVERIFY2(FDM->MySQLConnect(kHost, target, QStringLiteral("root"), QString(), error),
                   qPrintable(error));
          actual = GetMySQLDataVersion(*FDM);
          FDM->MySQLDisconnect();
          MySQLAdmin()->Execute(QStringLiteral("DROP DATABASE ") + target);
        } else if (kind == QLatin1String("firebird")) {
          QVERIFY(FDM->FBConnect(kHost + QLatin1Char(':') + target));
          actual = GetFBDataVersion(*FDM);
          FDM->FBDisconnect();
          DropFirebirdDatabase(kHost + QLatin1Char(':') + target, TDM::FBAttachmentParams());
        } else {
          QVERIFY2(FDM->MSSQLConnect(kHost, target, QStringLiteral("sa"), QString(), error),
                   qPrintable(error));
          actual = GetMSSQLDataVersion(*FDM);
          FDM->MSSQLDisconnect();
          QFile::remove(target);
        } QCOMPARE(actual, QStringLiteral("2.1.0.15"));)
  }
};

QTEST_GUILESS_MAIN(TestDataModule)
#include "test_datamodule.moc"
