// Round trips on the sample pharmacy database: a packet generated from a
// MySQL or Firebird source is installed into a MySQL or Firebird target
// that holds another pharmacy, through the installation run itself and
// through nompack-cli. Afterwards every row of the 37 tables equals the
// source's (PHARM_ID aside), the replica tables are gone and the look-alike
// stays, the documents are empty, the identity counters stand at the largest
// ID, the log holds the described lines, and a second installation offers
// to reuse the unpacked folder.
#include <unistd.h>
#include <QProcess>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QtTest>

#include "DataModule.h"
#include "GenerationRun.h"
#include "InstallLog.h"
#include "InstallationRun.h"
#include "RecorderView.h"
#include "test_install_support.h"

using namespace InstallTest;

namespace {

const QString kSourceMySQL = QStringLiteral("nompack_rt_src");
const QString kSourceFB = QStringLiteral("/tmp/nompack-fb/rt_src.fdb");
const QString kTargetTemplateFB = QStringLiteral("/tmp/nompack-fb/rt_target_template.fdb");

const QStringList kMySQLLog = {
    "Изтриване на таблици с репл.данни от обекти...", "Изтриване на таблици с документи...",
    "Изтриване на таблици с номенклатури...", "Зареждане на данни за номенклатури...", "..."};
const QStringList kFBLog = {"Зареждане на данни за номенклатури...", "..."};

QString ProjectDir() {
  const QString dir = SourceDir();
  return dir.isEmpty() ? QStringLiteral(NOMPACK_TEST_SOURCE_DIR) : dir;
}

QString KindName(int kind) {
  return kind == kMySQL ? "mysql" : "firebird";
}

// Loads the sample database (scale 1) into the target; empty when it worked.
QString LoadSample(int kind, const QString& target, const QString& role) {
  QProcess p;
  p.setProcessChannelMode(QProcess::MergedChannels);
  p.start("bash", {ProjectDir() + "/scripts/sample-db.sh", KindName(kind), target, "--role", role});
  p.waitForFinished(-1);
  if (p.exitStatus() == QProcess::NormalExit && p.exitCode() == 0) return QString();
  return QString::fromUtf8(p.readAll());
}

// A Firebird target: a copy of the target template when the file's owner can
// be kept, else loaded afresh.
QString MakeFBTarget(const QString& path) {
  QFile::remove(path);
  if (geteuid() == 0 && QFileInfo::exists(kTargetTemplateFB)) {
    if (QProcess::execute("cp", {"-p", kTargetTemplateFB, path}) == 0) return QString();
  }
  return LoadSample(kFireBird, path, "target");
}

std::unique_ptr<IConnection> Open(int kind, const QString& target) {
  if (kind == kMySQL) {
    auto con = OpenMySQL(MySQLParams(target));
    con->Execute("SET NAMES CP1251");
    return con;
  }
  auto con = OpenFirebird("127.0.0.1:" + target, FBDpb(), TDM::FBTransactionParams());
  con->StartTransaction();
  return con;
}

qint64 Scalar(IConnection& con, const QString& sql) {
  const auto ds = con.Open(sql);
  return ds->Value(0).IsNull() ? -1 : ds->Value(0).ToInt64();
}

bool MySQLTableExists(IConnection& con, const QString& table) {
  return Scalar(con, QString("SELECT COUNT(*) FROM information_schema.TABLES WHERE TABLE_SCHEMA = "
                             "DATABASE() AND TABLE_NAME = '%1'")
                         .arg(table)) > 0;
}

// Text as an independent client shows it (UTF-8 on its side).
QString ClientText(int kind, const QString& target, const QString& sql) {
  QProcess p;
  if (kind == kMySQL) {
    p.start("mariadb", {"--no-defaults", "--protocol=TCP", "-h127.0.0.1", "-uroot",
                        "--default-character-set=utf8mb4", "-N", "-B", "-D", target, "-e", sql});
  } else {
    p.start("isql-fb", {"-q", "-ch", "UTF8", "-user", "SYSDBA", "-password", "pondglass",
                        "127.0.0.1:" + target});
    p.write(("SET HEADING OFF;\n" + sql + ";\n").toUtf8());
    p.closeWriteChannel();
  }
  p.waitForFinished(-1);
  return QString::fromUtf8(p.readAllStandardOutput()).trimmed();
}

struct TRig {
  RecorderView View;
  TDM DM{View};
  TRunSettings Settings;
  QTemporaryDir ProgramDir;
  TRunContext Context{DM, View, [this] { return Settings; }, QString(), ProgramDir.path() + "/"};

  TRig(int kind, const QString& database) {
    Settings.DataBaseType = DataBaseTypeFromIndex(kind);
    if (kind == kMySQL) {
      Settings.DBName = database;
    } else {
      Settings.FBDBFullPath = database;
    }
  }
};

QString CliPath() {
  return QStringLiteral(NOMPACK_CLI_PATH);
}

QStringList ConnectionArgs(int kind, const QString& database) {
  if (kind == kMySQL)
    return {"--kind", "mysql", "--host", "127.0.0.1", "--database", database, "--user", "root"};
  return {"--kind", "firebird", "--host", "127.0.0.1", "--fb-path", database};
}

struct TCliResult {
  int ExitCode = -1;
  QStringList Out;
  QString Err;
};

TCliResult RunCli(const QStringList& args) {
  QProcess p;
  p.start(CliPath(), args);
  p.waitForFinished(-1);
  TCliResult r;
  r.ExitCode = p.exitStatus() == QProcess::NormalExit ? p.exitCode() : -1;
  const QString out = QString::fromUtf8(p.readAllStandardOutput());
  r.Out = out.split('\n', Qt::SkipEmptyParts);
  r.Err = QString::fromUtf8(p.readAllStandardError());
  return r;
}

}  // namespace

class TestRoundTrip : public QObject {
  Q_OBJECT

 private slots:
  void initTestCase() {
    FMySQL = MySQLReachable();
    FFB = FBReachable();
    NOMPACK_REQUIRE_SERVER(FMySQL && FFB, "MariaDB 127.0.0.1:3306 and Firebird 127.0.0.1:3050");
    QVERIFY(FDir.isValid());
    QString error = LoadSample(kMySQL, kSourceMySQL, "source");
    QVERIFY2(error.isEmpty(), qPrintable(error));
    error = LoadSample(kFireBird, kSourceFB, "source");
    QVERIFY2(error.isEmpty(), qPrintable(error));
    error = LoadSample(kFireBird, kTargetTemplateFB, "target");
    QVERIFY2(error.isEmpty(), qPrintable(error));
    for (int kind : {kMySQL, kFireBird}) {
      TRig rig(kind, kind == kMySQL ? kSourceMySQL : kSourceFB);
      rig.Settings.ExportFolder = FDir.path() + "/packets" + QString::number(kind);
      QDir().mkpath(rig.Settings.ExportFolder);
      TGenerationRun run(rig.Context);
      run.GenerateExport();
      QVERIFY2(!run.LastPacketFile().isEmpty(), qPrintable(rig.View.Errors.join('\n')));
      FPackets[kind] = run.LastPacketFile();
    }
  }

  void cleanupTestCase() {
    if (qEnvironmentVariableIsSet("NOMPACK_KEEP_TEST_DB")) return;
    try {
      OpenMySQL(MySQLParams())->Execute("DROP DATABASE IF EXISTS " + kSourceMySQL);
      for (const QString& db : FMySQLTargets)
        OpenMySQL(MySQLParams())->Execute("DROP DATABASE IF EXISTS " + db);
    } catch (const std::exception&) {
    }
    for (const QString& path : FFBTargets + QStringList{kSourceFB, kTargetTemplateFB}) {
      try {
        DropFirebirdDatabase("127.0.0.1:" + path, FBDpb());
      } catch (const std::exception&) {
      }
    }
  }

  void roundTrip_data() { Cases(); }
  void roundTrip() {
    QFETCH(int, source);
    QFETCH(int, target);
    const QString database = MakeTarget(target, "run");
    const QString packet = CopyPacket(source, "run");
    const QStringList log = target == kMySQL ? kMySQLLog : kFBLog;
    for (int pass = 1; pass <= 2; ++pass) {
      TRig rig(target, database);
      rig.Settings.InstallFile = packet;
      rig.View.Answers = {true};
      TInstallationRun run(rig.Context);
      run.InstallPacket();
      QVERIFY2(run.LastRunCompleted(), qPrintable(rig.View.Errors.join('\n')));
      QCOMPARE(rig.View.Errors, QStringList());
      QCOMPARE(run.LastRefusedRows(), 0);
      QCOMPARE(WithoutSummaries(rig.View.Log), log);
      VerifySummary(rig.View.Log);
      QCOMPARE(run.LastVerdict(), TInstallSummary::TVerdict::Clean);
      // The second installation finds the unpacked folder and offers it.
      QCOMPARE(rig.View.Questions.size(), pass == 1 ? 0 : 1);
      rig.DM.MySQLDisconnect();
      if (rig.DM.FBIsConnected()) rig.DM.FBDisconnect();
      VerifyTarget(source, target, database);
      if (QTest::currentTestFailed()) return;
    }
  }

  void cliRoundTrip_data() { Cases(); }
  void cliRoundTrip() {
    QFETCH(int, source);
    QFETCH(int, target);
    const QString out = FDir.path() + QString("/cli%1%2").arg(source).arg(target);
    QDir().mkpath(out);
    const TCliResult generated =
        RunCli(QStringList{"generate"} +
               ConnectionArgs(source, source == kMySQL ? kSourceMySQL : kSourceFB) +
               QStringList{"--out", out});
    QVERIFY2(generated.ExitCode == 0, qPrintable(generated.Err));
    const QString packet = generated.Out.last();
    QVERIFY2(QFileInfo(packet).isFile(), qPrintable(packet));
    const QString database = MakeTarget(target, "cli");
    const QStringList install =
        QStringList{"install"} + ConnectionArgs(target, database) + QStringList{"--packet", packet};
    const TCliResult first = RunCli(install);
    QVERIFY2(first.ExitCode == 0, qPrintable(first.Err));
    QCOMPARE(WithoutSummaries(first.Out), target == kMySQL ? kMySQLLog : kFBLog);
    VerifySummary(first.Out);
    VerifyTarget(source, target, database);
    if (QTest::currentTestFailed()) return;
    const TCliResult second = RunCli(install + QStringList{"--reuse"});
    QVERIFY2(second.ExitCode == 0, qPrintable(second.Err));
    QVERIFY2(second.Err.contains("Вече съществува разархивиран пакет"), qPrintable(second.Err));
    VerifyTarget(source, target, database);
  }

  // Exit 1: a step failed (a document table the target lacks, a Firebird
  // target without the cleanup procedure) or the packet is missing.
  void cliExitCodes() {
    const QString mysqlTarget = MakeTarget(kMySQL, "exit");
    Open(kMySQL, mysqlTarget)->Execute("DROP TABLE DENIAL");
    const TCliResult boxed = RunCli(QStringList{"install"} + ConnectionArgs(kMySQL, mysqlTarget) +
                                    QStringList{"--packet", CopyPacket(kFireBird, "exit")});
    // The failed delete stops the run and rolls back what it had changed.
    QCOMPARE(boxed.ExitCode, 1);
    QVERIFY2(boxed.Err.contains("Грешка: ") && boxed.Err.contains("DENIAL") &&
                 boxed.Err.contains("данните в базата са такива, каквито бяха преди нея"),
             qPrintable(boxed.Err));
    QCOMPARE(boxed.Out, kMySQLLog.mid(0, 2));

    const QString fbTarget = MakeTarget(kFireBird, "exit");
    {
      auto con = Open(kFireBird, fbTarget);
      con->Execute("DROP PROCEDURE SP_CLEANUP_DB");
      con->Commit();
    }
    const TCliResult failed = RunCli(QStringList{"install"} + ConnectionArgs(kFireBird, fbTarget) +
                                     QStringList{"--packet", CopyPacket(kMySQL, "exit")});
    QCOMPARE(failed.ExitCode, 1);
    QVERIFY2(failed.Err.contains("SP_CLEANUP_DB"), qPrintable(failed.Err));
    QVERIFY(failed.Out.isEmpty());

    const TCliResult missing = RunCli(QStringList{"install"} + ConnectionArgs(kMySQL, mysqlTarget) +
                                      QStringList{"--packet", "/nonexistent.fpd"});
    QCOMPARE(missing.ExitCode, 1);
    QVERIFY2(missing.Err.contains("Файлът \"/nonexistent.fpd\" не съществува!"),
             qPrintable(missing.Err));
  }

 private:
  bool FMySQL = false;
  bool FFB = false;
  QTemporaryDir FDir;
  QString FPackets[2];
  QStringList FMySQLTargets;
  QStringList FFBTargets;

  void Cases() {
    QTest::addColumn<int>("source");
    QTest::addColumn<int>("target");
    QTest::newRow("MySQL to Firebird") << int(kMySQL) << int(kFireBird);
    QTest::newRow("Firebird to MySQL") << int(kFireBird) << int(kMySQL);
    QTest::newRow("MySQL to MySQL") << int(kMySQL) << int(kMySQL);
    QTest::newRow("Firebird to Firebird") << int(kFireBird) << int(kFireBird);
  }

  // A target pharmacy of that kind, named after the case.
  QString MakeTarget(int kind, const QString& tag) {
    const QString name =
        QString("nompack_rt_%1_%2")
            .arg(tag, QTest::currentDataTag()
                          ? QString(QTest::currentDataTag()).replace(' ', '_').toLower()
                          : QString("x"));
    QString error;
    QString database;
    if (kind == kMySQL) {
      database = name;
      FMySQLTargets.append(database);
      error = LoadSample(kMySQL, database, "target");
    } else {
      database = kFBFolder + name + ".fdb";
      FFBTargets.append(database);
      error = MakeFBTarget(database);
    }
    if (!error.isEmpty()) qWarning("%s", qPrintable(error));
    return database;
  }

  // The generated packet in a folder of the case's own, so that it unpacks
  // next to it afresh.
  QString CopyPacket(int source, const QString& tag) {
    const QString folder =
        FDir.path() + "/" + tag + "_" + QString(QTest::currentDataTag()).replace(' ', '_');
    QDir().mkpath(folder);
    const QString copy = folder + "/" + QFileInfo(FPackets[source]).fileName();
    QFile::remove(copy);
    QFile::copy(FPackets[source], copy);
    return copy;
  }

  // Every one of the packet's tables in the summary, in packet order, each
  // with its rows loaded, none refused, and the same count in the target;
  // then the success verdict.
  void VerifySummary(const QStringList& log) {
    const QList<QStringList> rows = SummaryTableRows(log);
    QStringList names;
    for (const QStringList& row : rows) {
      QCOMPARE(row.size(), 5);
      names.append(row[0]);
      QVERIFY2(row[1] == row[2] && row[3] == "0" && row[4] == row[2], qPrintable(row.join(' ')));
    }
    QCOMPARE(names, PacketLayout::PacketTables());
    QVERIFY2(log.last().startsWith("Инсталацията завърши успешно: заредени са всички "),
             qPrintable(log.last()));
  }

  void VerifyTarget(int source, int target, const QString& database) {
    auto src = Open(source, source == kMySQL ? kSourceMySQL : kSourceFB);
    auto dst = Open(target, database);
    const bool mysql = target == kMySQL;
    for (const QString& table : PacketLayout::PacketTables()) {
      QStringList expected = CanonicalRows(*src, table);
      // The MySQL loader writes PHARM_ID 0; the Firebird loader leaves it out.
      static const QRegularExpression pharm("\\bPHARM_ID=[^|]*");
      for (QString& row : expected) row.replace(pharm, mysql ? "PHARM_ID=0" : "PHARM_ID=NULL");
      const QStringList actual = CanonicalRows(*dst, table);
      const QString difference = FirstDifference(expected, actual);
      QVERIFY2(difference.isEmpty(), qPrintable(table + ": " + difference));
      const qint64 maxId =
          qMax<qint64>(0, Scalar(*dst, QString("SELECT MAX(ID) FROM %1").arg(table)));
      if (mysql) {
        dst->Execute(QString("ANALYZE TABLE %1").arg(table));
        const qint64 counter = Scalar(
            *dst,
            QString("SELECT AUTO_INCREMENT FROM information_schema.TABLES WHERE TABLE_SCHEMA = "
                    "DATABASE() AND TABLE_NAME = '%1'")
                .arg(table));
        if (counter >= 0)
          QVERIFY2(
              counter == maxId + 1,
              qPrintable(
                  QString("%1: AUTO_INCREMENT %2, MAX(ID) %3").arg(table).arg(counter).arg(maxId)));
      } else {
        const bool hasGenerator =
            Scalar(*dst,
                   QString("SELECT COUNT(*) FROM RDB$GENERATORS WHERE RDB$GENERATOR_NAME = '%1_ID'")
                       .arg(table)) > 0;
        if (hasGenerator) {
          const qint64 generator =
              Scalar(*dst, QString("SELECT GEN_ID(%1_ID, 0) FROM RDB$DATABASE").arg(table));
          QVERIFY2(
              generator == maxId,
              qPrintable(
                  QString("%1: generator %2, MAX(ID) %3").arg(table).arg(generator).arg(maxId)));
        }
      }
    }
    for (const QString& doc : DocumentTableNames()) {
      if (doc == "PARCEL") continue;
      QVERIFY2(Scalar(*dst, QString("SELECT COUNT(*) FROM %1").arg(doc)) == 0, qPrintable(doc));
    }
    if (mysql) {
      QVERIFY(!MySQLTableExists(*dst, "SALE_12"));
      QVERIFY(!MySQLTableExists(*dst, "STOCK_3"));
      QVERIFY(MySQLTableExists(*dst, "STOCK_12A"));
      QCOMPARE(Scalar(*dst, "SELECT COUNT(*) FROM STOCK_12A"), 3);
    } else {
      QCOMPARE(Scalar(*dst, "SELECT COUNT(*) FROM ARTICLE_CENTRAL_LOCK"), 0);
    }
    // Bulgarian text as another client sees it.
    QCOMPARE(ClientText(target, database, "SELECT NAME FROM ARTICLE WHERE ID = 6"),
             QString("„Исландски лишей“ пастили x30"));
  }
};

QTEST_GUILESS_MAIN(TestRoundTrip)
#include "test_roundtrip.moc"
