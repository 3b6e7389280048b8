// An installation changes the target all or nothing: a table another
// session holds, a chunk that fails after the cleanup, and a TERM signal
// half-way through a large table each leave every table and identity
// counter as it was (compared by full dumps), within the bounded lock wait;
// refused rows alone still let the rest load and commit.
#include <signal.h>

#include <QElapsedTimer>
#include <QProcess>
#include <QTemporaryDir>
#include <QtTest>

#include "DataModule.h"
#include "InstallDriver.h"
#include "InstallationRun.h"
#include "RecorderView.h"
#include "test_install_support.h"

using namespace InstallTest;

namespace {

const QString kMySQLDb = QStringLiteral("nompack_t_atomic");
const QString kFBName = QStringLiteral("inst_atomic");
// The tests' lock wait; the run must end well within a few of them.
constexpr int kWaitSeconds = 2;
constexpr qint64 kEndsWithinMs = 15000;

const QVector<TFieldDef> kFields = {Field("ID", ftInteger), Field("NAME", ftString, 20)};

// Called with every install progress report: lets a test act half-way.
class THookView : public RecorderView {
 public:
  std::function<void(const QString&, int)> OnProgress;
  void ShowInstallProgress(const QString& caption, int done, int total) override {
    RecorderView::ShowInstallProgress(caption, done, total);
    if (OnProgress) OnProgress(caption, done);
  }
};

// The dump without one table's section: what a MySQL target keeps of its
// dump when the replica tables are dropped before the transaction.
QStringList WithoutTable(const QStringList& dump, const QString& table) {
  QStringList out;
  bool skipping = false;
  for (const QString& line : dump) {
    if (line.startsWith(QStringLiteral("TABLE ")) || line.startsWith(QStringLiteral("COUNTER ")))
      skipping = line == QStringLiteral("TABLE ") + table;
    if (!skipping) out.append(line);
  }
  return out;
}

// A target of either kind that shows any change: documents, the two
// tables the packets carry (one with an identity counter), a replica table
// (MySQL) and a table of the pharmacy's own that no packet names.
class TTarget {
 public:
  explicit TTarget(int kind) : FKind(kind) {
    if (kind == kMySQL) {
      FMy = std::make_unique<TScratchMySQL>(kMySQLDb);
      CreateDocuments(*FMy);
      FMy->Exec("CREATE TABLE SALE_12 (ID INT)");
      FMy->Exec("INSERT INTO SALE_12 VALUES (5)");
      FMy->Exec(
          "CREATE TABLE N_NZOK_GROUP (ID INT NOT NULL AUTO_INCREMENT PRIMARY KEY, NAME "
          "VARCHAR(20))");
      FMy->Exec("CREATE TABLE ARTICLE (ID INT NOT NULL PRIMARY KEY, NAME VARCHAR(20))");
      FMy->Exec("CREATE TABLE PHARMACY_NOTES (ID INT, NOTE VARCHAR(20))");
      FMy->Exec("INSERT INTO N_NZOK_GROUP VALUES (101, 'стара'), (102, 'стара')");
      FMy->Exec("INSERT INTO ARTICLE VALUES (901, 'стар')");
      FMy->Exec("INSERT INTO PHARMACY_NOTES VALUES (1, 'своя')");
    } else {
      FFB = std::make_unique<TScratchFB>(kFBName);
      FFB->Exec("CREATE TABLE ARTICLE_CENTRAL_LOCK (ID INTEGER NOT NULL PRIMARY KEY)");
      FFB->Exec("CREATE TABLE DOC1 (ID INTEGER NOT NULL PRIMARY KEY)");
      FFB->Exec("CREATE PROCEDURE SP_CLEANUP_DB AS BEGIN DELETE FROM DOC1; END");
      FFB->Exec("CREATE TABLE N_NZOK_GROUP (ID INTEGER NOT NULL PRIMARY KEY, NAME VARCHAR(20))");
      FFB->Exec("CREATE GENERATOR N_NZOK_GROUP_ID");
      FFB->Exec("SET GENERATOR N_NZOK_GROUP_ID TO 102");
      FFB->Exec("CREATE TABLE ARTICLE (ID INTEGER NOT NULL PRIMARY KEY, NAME VARCHAR(20))");
      FFB->Exec("CREATE TABLE PHARMACY_NOTES (ID INTEGER, NOTE VARCHAR(20))");
      FFB->Exec("INSERT INTO ARTICLE_CENTRAL_LOCK VALUES (1)");
      FFB->Exec("INSERT INTO DOC1 VALUES (1)");
      FFB->Exec("INSERT INTO N_NZOK_GROUP VALUES (101, 'стара')");
      FFB->Exec("INSERT INTO N_NZOK_GROUP VALUES (102, 'стара')");
      FFB->Exec("INSERT INTO ARTICLE VALUES (901, 'стар')");
      FFB->Exec("INSERT INTO PHARMACY_NOTES VALUES (1, 'своя')");
    }
  }

  // What another session sees committed.
  QStringList Dump() {
    if (FKind == kMySQL) return DumpDatabase(FMy->Con(), true);
    FFB->Reattach();
    return DumpDatabase(FFB->Con(), false);
  }
  // The dump a run that failed must leave: the same, less what commits by
  // itself before the transaction (the replica table).
  QStringList Unchanged(const QStringList& before) const {
    return FKind == kMySQL ? WithoutTable(before, QStringLiteral("SALE_12")) : before;
  }
  int Count(const QString& table) {
    if (FKind == kMySQL) return FMy->Count(table);
    FFB->Reattach();
    return FFB->Count(table);
  }
  // A session of its own, to hold locks with.
  IConnection& Other() { return FKind == kMySQL ? FMy->Con() : FFB->Con(); }

  void Configure(TRunSettings& settings) const {
    settings.DataBaseType = DataBaseTypeFromIndex(FKind);
    settings.DBName = kMySQLDb;
    settings.Password = QString();
    if (FFB) {
      settings.FBDBHost = QStringLiteral("127.0.0.1");
      settings.FBDBFullPath = FFB->Path();
    }
  }
  QStringList CliArgs(const QString& packet) const {
    QStringList args = {"install", "--packet", packet, "--reuse", "--host", "127.0.0.1"};
    if (FKind == kMySQL) return args + QStringList{"--kind", "mysql", "--database", kMySQLDb};
    return args + QStringList{"--kind", "firebird", "--fb-path", FFB->Path()};
  }

 private:
  int FKind;
  std::unique_ptr<TScratchMySQL> FMy;
  std::unique_ptr<TScratchFB> FFB;
};

// An unpacked packet the run reuses: N_NZOK_GROUP with `groupRows` rows in
// chunks of `chunkRows`, and ARTICLE with two; the packet file holds the same
// files, as the reuse check compares the folder with it.
QString WriteReusedPacket(const QString& folder, int groupRows, int chunkRows = 1000) {
  const QString packet = folder + "/p.mpd";
  const QString unpacked = folder + "/p/";
  QDir().mkpath(unpacked);
  int chunkNo = 0;
  for (int first = 1; first <= groupRows; first += chunkRows) {
    QVector<QVector<Variant>> rows;
    for (int i = first; i < first + chunkRows && i <= groupRows; ++i)
      rows.append({I(i), S(QStringLiteral("Група %1").arg(i))});
    WriteChunk(unpacked, "N_NZOK_GROUP", ++chunkNo, kFields, rows);
  }
  WriteChunk(unpacked, "ARTICLE", 1, kFields, {{I(7), S("Аспирин")}, {I(8), S("Бинт")}});
  WriteDescriptor(unpacked, {"{2.1.0.15}", "N_NZOK_GROUP", "ARTICLE"});
  if (!PackFolder(unpacked, packet)) qWarning("the packet could not be packed");
  return packet;
}

}  // namespace

class TestInstallAllOrNothing : public QObject {
  Q_OBJECT

 private slots:
  void initTestCase() {
    qputenv("NOMPACK_LOCK_WAIT_SECONDS", QByteArray::number(kWaitSeconds));
    FMySQL = MySQLReachable();
    FFB = FBReachable();
  }

  void init() { FCase = std::make_unique<QTemporaryDir>(); }

  // Another session holds a table the cleanup must empty: the run gives up
  // after the bounded wait, names the table and leaves everything else.
  void busyTable_data() {
    QTest::addColumn<int>("kind");
    QTest::addColumn<QString>("hold");
    QTest::newRow("mysql row lock on ARTICLE")
        << int(kMySQL) << "START TRANSACTION;SELECT ID FROM ARTICLE WHERE ID = 901 FOR UPDATE";
    QTest::newRow("mysql LOCK TABLES ARTICLE WRITE") << int(kMySQL) << "LOCK TABLES ARTICLE WRITE";
    QTest::newRow("firebird update conflict on ARTICLE")
        << int(kFireBird) << "UPDATE ARTICLE SET NAME = 'чужда' WHERE ID = 901";
  }
  void busyTable() {
    QFETCH(int, kind);
    QFETCH(QString, hold);
    REQUIRE_KIND_SERVER(kind);
    TTarget target(kind);
    const QStringList before = target.Dump();
    const QString packet = WriteReusedPacket(FCase->path(), 3);
    for (const QString& sql : hold.split(';')) target.Other().Execute(sql);

    RecorderView view;
    view.Answers = {true};
    QElapsedTimer timer;
    timer.start();
    const bool completed = Install(kind, target, view, packet);
    const qint64 elapsed = timer.elapsed();
    if (kind == kMySQL) {
      target.Other().Execute("ROLLBACK");
      target.Other().Execute("UNLOCK TABLES");
    } else {
      target.Other().RollbackRetaining();
    }

    QVERIFY(!completed);
    QVERIFY2(elapsed < kEndsWithinMs, qPrintable(QString::number(elapsed)));
    // It did wait (the servers' timers run in whole seconds).
    QVERIFY2(elapsed >= (kWaitSeconds - 1) * 1000, qPrintable(QString::number(elapsed)));
    QCOMPARE(view.Errors.size(), 1);
    QVERIFY2(view.Errors[0].startsWith("Таблица ARTICLE се използва от друга програма"),
             qPrintable(view.Errors[0]));
    QVERIFY2(view.Errors[0].endsWith(TInstallDriver::UnchangedText()), qPrintable(view.Errors[0]));
    const QStringList after = target.Dump();
    QVERIFY2(after == target.Unchanged(before),
             qPrintable(FirstDifference(target.Unchanged(before), after)));
  }

  // A chunk breaks after the check had read it whole, once N_NZOK_GROUP's
  // first batch is stored: everything is rolled back. Either the second
  // table's chunk (after the cleanup and the first table's load), or one of
  // N_NZOK_GROUP's own while batches before it are with the server (its
  // first batch is stored once the third is read, the second is sent, the
  // fourth's first chunk not yet read: the batches sent are completed).
  void chunkBreaksDuringTheLoad_data() {
    QTest::addColumn<int>("kind");
    QTest::addColumn<int>("groupRows");
    QTest::addColumn<int>("chunkRows");  // a batch is 50 rows on Firebird, 500 on MySQL
    QTest::addColumn<QString>("brokenChunk");
    const QString article = PacketLayout::ChunkFileName("ARTICLE", 1);
    QTest::newRow("mysql, the next table") << int(kMySQL) << 3 << 1000 << article;
    QTest::newRow("firebird, the next table") << int(kFireBird) << 3 << 1000 << article;
    QTest::newRow("mysql, batches in flight")
        << int(kMySQL) << 2000 << 50 << PacketLayout::ChunkFileName("N_NZOK_GROUP", 31);
    QTest::newRow("firebird, batches in flight")
        << int(kFireBird) << 2000 << 50 << PacketLayout::ChunkFileName("N_NZOK_GROUP", 4);
  }
  void chunkBreaksDuringTheLoad() {
    QFETCH(int, kind);
    QFETCH(int, groupRows);
    QFETCH(int, chunkRows);
    QFETCH(QString, brokenChunk);
    REQUIRE_KIND_SERVER(kind);
    TTarget target(kind);
    const QStringList before = target.Dump();
    const QString packet = WriteReusedPacket(FCase->path(), groupRows, chunkRows);
    const QString chunk = FCase->path() + "/p/" + brokenChunk;

    THookView view;
    view.Answers = {true};
    bool broken = false;
    view.OnProgress = [&](const QString& caption, int done) {
      if (!broken && done > 0 && caption.endsWith(" N_NZOK_GROUP")) {
        WriteText(chunk, "<?xml version=\"1.0\"?><DATAPACKET><broken");
        broken = true;
      }
    };
    QVERIFY(!Install(kind, target, view, packet));
    QVERIFY(broken);
    QCOMPARE(view.Errors.size(), 1);
    QVERIFY2(view.Errors[0].contains(brokenChunk), qPrintable(view.Errors[0]));
    QVERIFY2(view.Errors[0].endsWith("\r\n" + TInstallDriver::UnchangedText()),
             qPrintable(view.Errors[0]));
    // The rows loaded before the failure were there until the rollback.
    QVERIFY(view.Log.contains("Зареждане на данни за номенклатури..."));
    const QStringList after = target.Dump();
    QVERIFY2(after == target.Unchanged(before),
             qPrintable(FirstDifference(target.Unchanged(before), after)));
  }

  // A stop asked while the packet is checked (the window's Escape, a
  // signal) ends the run before the first change: on MySQL not even the
  // replica tables are dropped. A stop half-way through a table rolls back.
  void stopRequested_data() {
    QTest::addColumn<int>("kind");
    QTest::addColumn<QString>("during");
    QTest::newRow("mysql, the check") << int(kMySQL) << "Проверка на пакета...";
    QTest::newRow("firebird, the check") << int(kFireBird) << "Проверка на пакета...";
    QTest::newRow("mysql, a table") << int(kMySQL) << "Зареждане на данни за таблица N_NZOK_GROUP";
    QTest::newRow("firebird, a table")
        << int(kFireBird) << "Зареждане на данни за таблица N_NZOK_GROUP";
  }
  void stopRequested() {
    QFETCH(int, kind);
    QFETCH(QString, during);
    REQUIRE_KIND_SERVER(kind);
    TTarget target(kind);
    const QStringList before = target.Dump();
    const QString packet = WriteReusedPacket(FCase->path(), 30, 10);
    THookView view;
    view.Answers = {true};
    view.OnProgress = [&](const QString& caption, int done) {
      if (done > 0 && caption == during) view.RequestStop();
    };
    QVERIFY(!Install(kind, target, view, packet));
    QCOMPARE(view.Errors, QStringList{"Процесът е прекъснат от потребителя.\r\n" +
                                      TInstallDriver::UnchangedText()});
    QCOMPARE(view.Log.last(), TInstallDriver::UnchangedText());
    const bool inTheCheck = during.startsWith("Проверка");
    // Nothing was loaded after the stop.
    int loaded = 0;
    for (const auto& call : view.CallsOf("install"))
      if (call.Text.startsWith("Зареждане на данни за таблица")) ++loaded;
    QCOMPARE(loaded, inTheCheck ? 0 : 1);
    const QStringList after = target.Dump();
    const QStringList expected = inTheCheck ? before : target.Unchanged(before);
    QVERIFY2(after == expected, qPrintable(FirstDifference(expected, after)));
  }

  // A row the database refuses is undone alone: the others load, the run
  // commits, and the identity counter follows what was loaded.
  void refusedRowsLeaveTheRest_data() {
    QTest::addColumn<int>("kind");
    QTest::newRow("mysql") << int(kMySQL);
    QTest::newRow("firebird") << int(kFireBird);
  }
  void refusedRowsLeaveTheRest() {
    QFETCH(int, kind);
    REQUIRE_KIND_SERVER(kind);
    TTarget target(kind);
    const QString packet = WriteReusedPacket(FCase->path(), 3);
    // A second row with ID 2: the primary key refuses it.
    WriteChunk(FCase->path() + "/p/", "N_NZOK_GROUP", 1, kFields,
               {{I(1), S("а")}, {I(2), S("б")}, {I(2), S("двойник")}, {I(3), S("в")}});
    QVERIFY(PackFolder(FCase->path() + "/p/", packet));

    RecorderView view;
    view.Answers = {true};
    QVERIFY2(Install(kind, target, view, packet), qPrintable(view.Errors.join('\n')));
    QCOMPARE(view.Errors, QStringList());
    QCOMPARE(FRefused, 1);
    const QStringList refusals = view.Log.filter("table: N_NZOK_GROUP> 2 двойник");
    QCOMPARE(refusals.size(), 1);
    QCOMPARE(target.Count("N_NZOK_GROUP"), 3);
    QCOMPARE(target.Count("ARTICLE"), 2);
    QCOMPARE(target.Count("PHARMACY_NOTES"), 1);
    const QStringList dump = target.Dump();
    QVERIFY2(dump.contains(kind == kMySQL ? "COUNTER N_NZOK_GROUP=4" : "COUNTER N_NZOK_GROUP_ID=3"),
             qPrintable(dump.filter("COUNTER").join('\n')));
  }

  // A server refusing a step of the installation itself (not a row) stops
  // the run: a Bulgarian line says what was being done, the server's own
  // text follows, and the target is as it was.
  void serverFailureSaysWhatWasBeingDone_data() {
    QTest::addColumn<int>("kind");
    QTest::addColumn<QStringList>("setup");
    QTest::addColumn<QString>("doing");
    QTest::addColumn<QString>("serverText");
    QTest::newRow("mysql delete refused by a trigger")
        << int(kMySQL)
        << QStringList{"CREATE TRIGGER ARTICLE_KEEP BEFORE DELETE ON ARTICLE FOR EACH ROW "
                       "SIGNAL SQLSTATE '45000' SET MESSAGE_TEXT = 'article rows are kept'"}
        << "Грешка при изтриването на данните от таблица ARTICLE:"
        << "article rows are kept";
    // A connection the server ends in the middle of the load is no refused
    // row: the whole run stops.
    QTest::newRow("mysql load ended by the server")
        << int(kMySQL)
        << QStringList{"CREATE TRIGGER GROUP_END BEFORE INSERT ON N_NZOK_GROUP FOR EACH ROW "
                       "SIGNAL SQLSTATE 'HY000' SET MYSQL_ERRNO = 1927, MESSAGE_TEXT = "
                       "'connection was killed'"}
        << "Грешка при зареждането на таблица N_NZOK_GROUP:"
        << "connection was killed";
    QTest::newRow("firebird delete refused by a trigger")
        << int(kFireBird)
        << QStringList{"CREATE EXCEPTION ARTICLE_KEPT 'article rows are kept'",
                       "CREATE TRIGGER ARTICLE_KEEP FOR ARTICLE BEFORE DELETE AS BEGIN "
                       "EXCEPTION ARTICLE_KEPT; END"}
        << "Грешка при изтриването на данните от таблица ARTICLE:"
        << "article rows are kept";
    QTest::newRow("firebird cleanup procedure fails")
        << int(kFireBird)
        << QStringList{"CREATE EXCEPTION CLEANUP_FAILS 'cleanup is not allowed'",
                       "ALTER PROCEDURE SP_CLEANUP_DB AS BEGIN EXCEPTION CLEANUP_FAILS; END"}
        << "Грешка при изпълнението на процедура SP_CLEANUP_DB:"
        << "cleanup is not allowed";
  }
  void serverFailureSaysWhatWasBeingDone() {
    QFETCH(int, kind);
    QFETCH(QStringList, setup);
    QFETCH(QString, doing);
    QFETCH(QString, serverText);
    REQUIRE_KIND_SERVER(kind);
    TTarget target(kind);
    for (const QString& sql : setup) target.Other().Execute(sql);
    if (kind == kFireBird) target.Other().CommitRetaining();
    const QStringList before = target.Dump();
    const QString packet = WriteReusedPacket(FCase->path(), 3);

    RecorderView view;
    view.Answers = {true};
    QVERIFY(!Install(kind, target, view, packet));
    QCOMPARE(view.Errors.size(), 1);
    const QStringList lines = view.Errors[0].split("\r\n");
    QVERIFY2(lines.size() >= 3, qPrintable(view.Errors[0]));
    QCOMPARE(lines.first(), doing);
    QVERIFY2(lines[1].contains(serverText), qPrintable(view.Errors[0]));
    QCOMPARE(lines.last(), TInstallDriver::UnchangedText());
    const QStringList after = target.Dump();
    QVERIFY2(after == target.Unchanged(before),
             qPrintable(FirstDifference(target.Unchanged(before), after)));
  }

  // Tables whose engine ignores transactions are named before the first
  // change; the other tables are not.
  void nonTransactionalTablesAreNamed() {
    REQUIRE_KIND_SERVER(kMySQL);
    TTarget target(kMySQL);
    target.Other().Execute("ALTER TABLE ARTICLE ENGINE=MyISAM");
    target.Other().Execute("ALTER TABLE PHARMACY_NOTES ENGINE=MyISAM");
    const QString packet = WriteReusedPacket(FCase->path(), 3);

    RecorderView view;
    view.Answers = {true};
    QVERIFY2(Install(kMySQL, target, view, packet), qPrintable(view.Errors.join('\n')));
    const QString named = QStringLiteral(
        "Таблици без поддръжка на транзакции: ARTICLE (MyISAM). Промените в тях няма да бъдат "
        "отменени, ако инсталацията не завърши.");
    const qsizetype at = view.Log.indexOf(named);
    QVERIFY2(at >= 0, qPrintable(view.Log.join('\n')));
    const qsizetype firstChange =
        view.Log.indexOf("Изтриване на таблици с репл.данни от обекти...");
    QVERIFY(firstChange > at);
    QCOMPARE(view.Log.filter("Таблици без поддръжка").size(), 1);
    QCOMPARE(target.Count("ARTICLE"), 2);
  }

  // TERM half-way through a large table: the command line stops at its
  // next progress point, rolls back and says so.
  void termStopsAndRollsBack_data() {
    QTest::addColumn<int>("kind");
    QTest::newRow("mysql") << int(kMySQL);
    QTest::newRow("firebird") << int(kFireBird);
  }
  void termStopsAndRollsBack() {
    QFETCH(int, kind);
    REQUIRE_KIND_SERVER(kind);
    TTarget target(kind);
    const QStringList before = target.Dump();
    // Large enough that batched inserts are still at it when the signal comes.
    const QString packet = WriteReusedPacket(FCase->path(), 200000, 5000);

    QProcess cli;
    cli.start(QStringLiteral(NOMPACK_CLI_PATH), target.CliArgs(packet));
    QVERIFY(cli.waitForStarted());
    // Its stage lines go to stdout: the table's load has begun once the
    // loading line is there; a moment later it is inside the table.
    QElapsedTimer timer;
    timer.start();
    QByteArray out;
    while (!out.contains("Зареждане на данни за номенклатури...") && timer.elapsed() < 60000) {
      cli.waitForReadyRead(200);
      out += cli.readAllStandardOutput();
      if (cli.state() != QProcess::Running) break;
    }
    QTest::qWait(300);
    QVERIFY2(cli.state() == QProcess::Running, "the run ended before it could be stopped");
    ::kill(static_cast<pid_t>(cli.processId()), SIGTERM);
    QVERIFY(cli.waitForFinished(30000));
    const QString err = QString::fromUtf8(cli.readAllStandardError());
    QCOMPARE(cli.exitStatus(), QProcess::NormalExit);
    QCOMPARE(cli.exitCode(), 1);
    QVERIFY2(err.contains("Процесът е прекъснат от потребителя."), qPrintable(err));
    QVERIFY2(err.contains(TInstallDriver::UnchangedText()), qPrintable(err));
    const QStringList after = target.Dump();
    QVERIFY2(after == target.Unchanged(before),
             qPrintable(FirstDifference(target.Unchanged(before), after)));
  }

 private:
  bool FMySQL = false;
  bool FFB = false;
  int FRefused = 0;
  std::unique_ptr<QTemporaryDir> FCase;

  bool Install(int kind, TTarget& target, RecorderView& view, const QString& packet) {
    Q_UNUSED(kind);
    TDM dm(view);
    TRunSettings settings;
    target.Configure(settings);
    settings.InstallFile = packet;
    TRunContext context{dm, view, [settings] { return settings; }, QString(), FCase->path() + "/"};
    TInstallationRun run(context);
    run.InstallPacket();
    FRefused = run.LastRefusedRows();
    return run.LastRunCompleted();
  }
};

QTEST_GUILESS_MAIN(TestInstallAllOrNothing)
#include "test_install_all_or_nothing.moc"
