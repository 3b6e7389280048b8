// What an installation reports when it ends, and the dry run: the summary
// of a clean installation, of one with refused rows and of one whose target
// holds other counts after the commit (a trigger, an engine that drops rows),
// in the log, the saved log and the command line's exit code; the dry run's
// per-table findings on a packet with known refusals, the same as the
// installation then finds, with the target unchanged on both servers.
#include <QProcess>
#include <QTemporaryDir>
#include <QtTest>

#include "CountTable.h"
#include "DataModule.h"
#include "InstallDriver.h"
#include "InstallationRun.h"
#include "PacketCheck.h"
#include "PacketManifestCheck.h"
#include "RecorderView.h"
#include "SavedLog.h"
#include "test_install_support.h"

using namespace InstallTest;

namespace {

const QString kMySQLDb = QStringLiteral("nompack_t_summary");
const QString kFBName = QStringLiteral("inst_summary");

const QVector<TFieldDef> kGroupFields = {Field("ID", ftInteger), Field("NAME", ftString, 20)};
const QVector<TFieldDef> kArticleFields = {Field("ID", ftInteger), Field("NAME", ftString, 40),
                                           Field("QTY", ftInteger)};

const QStringList kTables = {"N_NZOK_GROUP", "ARTICLE", "PRODUCER"};

// A small pharmacy of either kind: documents, the three tables the packets
// name (PRODUCER gets no rows from them), each with rows of its own.
class TTarget {
 public:
  explicit TTarget(int kind) : FKind(kind) {
    if (kind == kMySQL) {
      FMy = std::make_unique<TScratchMySQL>(kMySQLDb);
      CreateDocuments(*FMy);
      FMy->Exec(
          "CREATE TABLE N_NZOK_GROUP (ID INT NOT NULL AUTO_INCREMENT PRIMARY KEY, NAME "
          "VARCHAR(20))");
      FMy->Exec(
          "CREATE TABLE ARTICLE (ID INT NOT NULL PRIMARY KEY, NAME VARCHAR(20), QTY SMALLINT)");
      FMy->Exec("CREATE TABLE PRODUCER (ID INT NOT NULL PRIMARY KEY, NAME VARCHAR(20))");
      FMy->Exec("INSERT INTO N_NZOK_GROUP VALUES (101, 'стара'), (102, 'стара')");
      FMy->Exec("INSERT INTO ARTICLE VALUES (901, 'стар', 1)");
      FMy->Exec("INSERT INTO PRODUCER VALUES (1, 'стар')");
    } else {
      FFB = std::make_unique<TScratchFB>(kFBName);
      FFB->Exec("CREATE TABLE ARTICLE_CENTRAL_LOCK (ID INTEGER NOT NULL PRIMARY KEY)");
      FFB->Exec("CREATE TABLE DOC1 (ID INTEGER NOT NULL PRIMARY KEY)");
      FFB->Exec("CREATE PROCEDURE SP_CLEANUP_DB AS BEGIN DELETE FROM DOC1; END");
      FFB->Exec("CREATE TABLE N_NZOK_GROUP (ID INTEGER NOT NULL PRIMARY KEY, NAME VARCHAR(20))");
      FFB->Exec("CREATE GENERATOR N_NZOK_GROUP_ID");
      FFB->Exec("SET GENERATOR N_NZOK_GROUP_ID TO 102");
      FFB->Exec(
          "CREATE TABLE ARTICLE (ID INTEGER NOT NULL PRIMARY KEY, NAME VARCHAR(20), QTY "
          "SMALLINT)");
      FFB->Exec("CREATE TABLE PRODUCER (ID INTEGER NOT NULL PRIMARY KEY, NAME VARCHAR(20))");
      FFB->Exec("INSERT INTO ARTICLE_CENTRAL_LOCK VALUES (1)");
      FFB->Exec("INSERT INTO DOC1 VALUES (1)");
      FFB->Exec("INSERT INTO N_NZOK_GROUP VALUES (101, 'стара')");
      FFB->Exec("INSERT INTO N_NZOK_GROUP VALUES (102, 'стара')");
      FFB->Exec("INSERT INTO ARTICLE VALUES (901, 'стар', 1)");
      FFB->Exec("INSERT INTO PRODUCER VALUES (1, 'стар')");
    }
  }

  void Exec(const QString& sql) {
    if (FKind == kMySQL)
      FMy->Exec(sql);
    else
      FFB->Exec(sql);
  }
  // What another session sees committed.
  QStringList Dump() {
    if (FKind == kMySQL) return DumpDatabase(FMy->Con(), true);
    FFB->Reattach();
    return DumpDatabase(FFB->Con(), false);
  }
  int Count(const QString& table) {
    if (FKind == kMySQL) return FMy->Count(table);
    FFB->Reattach();
    return FFB->Count(table);
  }
  void Configure(TRunSettings& settings) const {
    settings.DataBaseType = DataBaseTypeFromIndex(FKind);
    settings.DBName = kMySQLDb;
    settings.Password = QString();
    if (FFB) {
      settings.FBDBHost = QStringLiteral("127.0.0.1");
      settings.FBDBFullPath = FFB->Path();
    }
  }
  QStringList CliArgs(const QString& command, const QString& packet) const {
    QStringList args = {command, "--packet", packet, "--reuse", "--host", "127.0.0.1"};
    if (FKind == kMySQL) return args + QStringList{"--kind", "mysql", "--database", kMySQLDb};
    return args + QStringList{"--kind", "firebird", "--fb-path", FFB->Path()};
  }

 private:
  int FKind;
  std::unique_ptr<TScratchMySQL> FMy;
  std::unique_ptr<TScratchFB> FFB;
};

// How a run in the test's own process ended.
struct TResult {
  bool Completed = false;
  TInstallSummary::TVerdict Verdict = TInstallSummary::TVerdict::None;
  int WouldRefuse = 0;
};

struct TCliResult {
  int Exit = -1;
  QString Out;
  QString Err;
};

TCliResult RunCli(const QStringList& args) {
  QProcess p;
  p.start(QStringLiteral(NOMPACK_CLI_PATH), args);
  p.waitForFinished(120000);
  TCliResult r;
  r.Exit = p.exitStatus() == QProcess::NormalExit ? p.exitCode() : -1;
  r.Out = QString::fromUtf8(p.readAllStandardOutput());
  r.Err = QString::fromUtf8(p.readAllStandardError());
  return r;
}

// The lines of the log from the one that starts with `first` on.
QStringList From(const QStringList& log, const QString& first) {
  for (qsizetype i = 0; i < log.size(); ++i)
    if (log[i].startsWith(first)) return log.mid(i);
  return {};
}

}  // namespace

class TestInstallSummary : public QObject {
  Q_OBJECT

 private slots:
  void initTestCase() {
    FMySQL = MySQLReachable();
    FFB = FBReachable();
  }
  void init() { FCase = std::make_unique<QTemporaryDir>(); }

  // Every row loaded and counted: one line per table, the total, and the
  // verdict, after the last stage line; no box; the saved log holds it all.
  void cleanInstallation_data() { Kinds(); }
  void cleanInstallation() {
    QFETCH(int, kind);
    REQUIRE_KIND_SERVER(kind);
    TTarget target(kind);
    const QString packet = WritePacket({{I(7), S("Аспирин"), I(5)}, {I(8), S("Бинт"), Null()}});

    RecorderView view;
    const TResult result = Install(target, view, packet);
    QVERIFY2(result.Completed, qPrintable(view.Errors.join('\n')));
    QCOMPARE(view.Errors, QStringList());
    QCOMPARE(result.Verdict, TInstallSummary::TVerdict::Clean);
    const QStringList expected = {
        "...",
        "Обобщение на инсталацията:",
        "  Таблица       В пакета  Заредени  Отказани  В базата",
        "  N_NZOK_GROUP         3         3         0         3",
        "  ARTICLE              2         2         0         2",
        "  PRODUCER             0         0         0         0",
        "  Общо                 5         5         0         5",
        "Инсталацията завърши успешно: заредени са всички 5 реда от пакета и броят им в базата е "
        "проверен."};
    QCOMPARE(From(view.Log, "..."), expected);
    QCOMPARE(target.Count("ARTICLE"), 2);
    const QStringList saved = SavedLogLines(packet + ".log");
    QVERIFY(!saved.isEmpty());
    QCOMPARE(saved.mid(1), view.Log);
  }

  // Refused rows: the summary counts them per table and the verdict says
  // how many, as a warning in the log (no box: the rows are in the log).
  void refusedRows_data() { Kinds(); }
  void refusedRows() {
    QFETCH(int, kind);
    REQUIRE_KIND_SERVER(kind);
    TTarget target(kind);
    const QString packet = WritePacket({{I(7), S("Аспирин"), I(5)},
                                        {I(7), S("Двойник"), I(1)},
                                        {I(8), S("Бинт"), I(70000)},
                                        {I(9), S("Вата"), I(2)}});

    RecorderView view;
    const TResult result = Install(target, view, packet);
    QVERIFY2(result.Completed, qPrintable(view.Errors.join('\n')));
    QCOMPARE(view.Errors, QStringList());
    QCOMPARE(result.Verdict, TInstallSummary::TVerdict::Refused);
    QCOMPARE(view.Log.filter(" table: ARTICLE> ").size(), 2);
    const QStringList summary = From(view.Log, "Обобщение на инсталацията:");
    QCOMPARE(summary.mid(1),
             QStringList({"  Таблица       В пакета  Заредени  Отказани  В базата",
                          "  N_NZOK_GROUP         3         3         0         3",
                          "  ARTICLE              4         2         2         2",
                          "  PRODUCER             0         0         0         0",
                          "  Общо                 7         5         2         5",
                          "Инсталацията завърши с отказани редове: заредени са 5 от 7 реда, "
                          "отказани са 2 (описани са по-горе в дневника)."}));
    QCOMPARE(target.Count("ARTICLE"), 2);
    QVERIFY(SavedLogLines(packet + ".log").contains(summary.last()));

    // The command line: the same verdict on stdout, exit code 2.
    const TCliResult cli = RunCli(target.CliArgs("install", packet));
    QVERIFY2(cli.Exit == 2, qPrintable(cli.Err));
    QVERIFY2(cli.Out.contains(summary.last()), qPrintable(cli.Out));
  }

  // The target holds other rows after the commit than were loaded: an
  // error box naming the table and the numbers, a verdict that says the
  // data does not match, exit code 3 on the command line.
  void targetDiffersAfterCommit_data() {
    QTest::addColumn<int>("kind");
    QTest::addColumn<QStringList>("setup");
    QTest::addColumn<QString>("difference");
    // Undoes what the first installation left behind the target's back.
    QTest::addColumn<QString>("reset");
    QTest::newRow("mysql: a trigger deletes a row of another table")
        << int(kMySQL)
        << QStringList{"CREATE TRIGGER ARTICLE_AI AFTER INSERT ON ARTICLE FOR EACH ROW "
                       "DELETE FROM N_NZOK_GROUP WHERE ID = 2"}
        << "Таблица N_NZOK_GROUP: заредени са 3 реда, а след потвърждаването в базата има 2 реда."
        << QString();
    QTest::newRow("mysql: a trigger adds a row to another table")
        << int(kMySQL)
        << QStringList{"CREATE TRIGGER ARTICLE_AI AFTER INSERT ON ARTICLE FOR EACH ROW "
                       "INSERT INTO PRODUCER VALUES (NEW.ID, 'от тригер')"}
        << "Таблица PRODUCER: заредени са 0 реда, а след потвърждаването в базата има 2 реда."
        << QString();
    // Rows inserted through a view that does not show them.
    QTest::newRow("mysql: a view that hides the rows inserted")
        << int(kMySQL)
        << QStringList{"DROP TABLE ARTICLE",
                       "CREATE TABLE ARTICLE_STORE (ID INT NOT NULL PRIMARY KEY, NAME "
                       "VARCHAR(20), QTY SMALLINT)",
                       "CREATE VIEW ARTICLE AS SELECT * FROM ARTICLE_STORE WHERE QTY > 100"}
        << "Таблица ARTICLE: заредени са 2 реда, а след потвърждаването в базата има 0 реда."
        << "DELETE FROM ARTICLE_STORE";
    QTest::newRow("firebird: a trigger deletes a row of another table")
        << int(kFireBird)
        << QStringList{"CREATE TRIGGER ARTICLE_AI FOR ARTICLE AFTER INSERT AS BEGIN "
                       "DELETE FROM N_NZOK_GROUP WHERE ID = 2; END"}
        << "Таблица N_NZOK_GROUP: заредени са 3 реда, а след потвърждаването в базата има 2 реда."
        << QString();
    QTest::newRow("firebird: a trigger deletes the row inserted")
        << int(kFireBird)
        << QStringList{"CREATE TRIGGER ARTICLE_AI FOR ARTICLE AFTER INSERT AS BEGIN "
                       "DELETE FROM ARTICLE WHERE ID = NEW.ID; END"}
        << "Таблица ARTICLE: заредени са 2 реда, а след потвърждаването в базата има 0 реда."
        << QString();
  }
  void targetDiffersAfterCommit() {
    QFETCH(int, kind);
    QFETCH(QStringList, setup);
    QFETCH(QString, difference);
    QFETCH(QString, reset);
    REQUIRE_KIND_SERVER(kind);
    TTarget target(kind);
    for (const QString& sql : setup) target.Exec(sql);
    const QString packet = WritePacket({{I(7), S("Аспирин"), I(5)}, {I(8), S("Бинт"), I(6)}});

    RecorderView view;
    const TResult result = Install(target, view, packet);
    QVERIFY2(result.Completed, qPrintable(view.Errors.join('\n')));
    QCOMPARE(result.Verdict, TInstallSummary::TVerdict::Mismatch);
    QCOMPARE(view.Errors.size(), 1);
    QCOMPARE(view.Errors[0], "Данните в базата не съответстват на пакета:\n" + difference);
    const QString table = difference.section(' ', 1, 1).chopped(1);
    QCOMPARE(view.Log.last(),
             "ВНИМАНИЕ: инсталацията завърши, но данните в базата НЕ съответстват на пакета (" +
                 table + "). Проверете базата данни!");
    QVERIFY(!view.Log.filter(QRegularExpression("успешно")).size());
    // The error box comes after the table lines, before the verdict.
    const QStringList saved = SavedLogLines(packet + ".log");
    const qsizetype box = saved.indexOf("Грешка: Данните в базата не съответстват на пакета:");
    QVERIFY2(box > 0, qPrintable(saved.join('\n')));
    QVERIFY(saved[box - 1].startsWith("  Общо "));
    QCOMPARE(saved.mid(box + 1, 2), QStringList({difference, view.Log.last()}));

    if (!reset.isEmpty()) target.Exec(reset);
    const TCliResult cli = RunCli(target.CliArgs("install", packet));
    QVERIFY2(cli.Exit == 3, qPrintable(cli.Out + cli.Err));
    QVERIFY2(cli.Err.contains("Грешка: Данните в базата не съответстват на пакета:\n" + difference),
             qPrintable(cli.Err));
    QVERIFY2(cli.Out.contains(view.Log.last()), qPrintable(cli.Out));
  }

  // A stopped installation is rolled back and gets no summary of loaded
  // rows: its message says the data is unchanged.
  void rolledBackRunHasNoSummary_data() { Kinds(); }
  void rolledBackRunHasNoSummary() {
    QFETCH(int, kind);
    REQUIRE_KIND_SERVER(kind);
    TTarget target(kind);
    const QString packet = WritePacket({{I(7), S("Аспирин"), I(5)}});
    const QStringList before = target.Dump();
    RecorderView view;
    view.OnProgress = [&view] {
      if (view.InstallCaption.startsWith("Зареждане на данни за таблица ")) view.RequestStop();
    };
    const TResult result = Install(target, view, packet);
    QVERIFY(!result.Completed);
    QCOMPARE(result.Verdict, TInstallSummary::TVerdict::None);
    QCOMPARE(view.Errors.size(), 1);
    QVERIFY2(view.Errors[0].endsWith(TInstallDriver::UnchangedText()), qPrintable(view.Errors[0]));
    QVERIFY(From(view.Log, "Обобщение на инсталацията:").isEmpty());
    QVERIFY(view.Log.filter("Инсталацията завърши").isEmpty());
    const QStringList after = target.Dump();
    QVERIFY2(after == before, qPrintable(FirstDifference(before, after)));
  }

  // The dry run on a packet with a text too long, a number that does not
  // fit and an ID twice: exact per table, each refusal with its reason,
  // the target unchanged, exit code 2; the installation then refuses the
  // same rows and loads the same counts.
  void dryRunWithRefusals_data() { Kinds(); }
  void dryRunWithRefusals() {
    QFETCH(int, kind);
    REQUIRE_KIND_SERVER(kind);
    TTarget target(kind);
    const QString longName = QString(25, QChar(0x0414));  // "ДДД..."
    const QString packet = WritePacket({{I(7), S("Аспирин"), I(5)},
                                        {I(8), S(longName), I(1)},
                                        {I(9), S("Бинт"), I(70000)},
                                        {I(7), S("Двойник"), I(2)},
                                        {I(10), S("Вата"), Null()}});
    const QStringList before = target.Dump();

    RecorderView view;
    const TResult result = Check(target, view, packet);
    QVERIFY2(result.Completed, qPrintable(view.Errors.join('\n')));
    QCOMPARE(view.Errors, QStringList());
    QCOMPARE(result.WouldRefuse, 3);
    const QStringList after = target.Dump();
    QVERIFY2(after == before, qPrintable(FirstDifference(before, after)));

    const QStringList refusals = view.Log.filter(" table: ");
    QCOMPARE(refusals.size(), 3);
    const QString varchar = kind == kMySQL ? "varchar(20)" : "VARCHAR(20)";
    QCOMPARE(refusals[0], "Стойността на колона NAME е дълга 25 знака, а колоната (" + varchar +
                              ") побира 20 table: ARTICLE> 8 " + longName + " 1 ");
    QVERIFY2(refusals[1].startsWith("Стойността 70000 на колона QTY е извън обхвата на колоната ("),
             qPrintable(refusals[1]));
    QVERIFY2(refusals[1].endsWith(" table: ARTICLE> 9 Бинт 70000 "), qPrintable(refusals[1]));
    QCOMPARE(refusals[2],
             "Стойността 7 на колона ID се повтаря в таблицата (първият ред с нея е във файла "
             "\"ARTICLE[1].xml\") table: ARTICLE> 7 Двойник 2 ");
    QCOMPARE(From(view.Log, "Резултат от проверката:"),
             QStringList(
                 {"Резултат от проверката:", "  Таблица       Редове  Ще се заредят  Ще се откажат",
                  "  N_NZOK_GROUP       3              3              0",
                  "  ARTICLE            5              2              3",
                  "  PRODUCER           0              0              0",
                  "  Общо               8              5              3",
                  "Проверката завърши: при инсталиране ще бъдат отказани 3 от 8 реда "
                  "(описани са по-горе в дневника). Базата данни не е променена."}));
    const QStringList saved = SavedLogLines(packet + ".log");
    QCOMPARE(saved.filter(QRegularExpression("^===== Проверка на пакет, ")).size(), 1);
    QVERIFY(saved.contains(refusals[2]));

    const TCliResult cli = RunCli(target.CliArgs("check", packet));
    QVERIFY2(cli.Exit == 2, qPrintable(cli.Err));
    QVERIFY2(cli.Out.contains(refusals[0]), qPrintable(cli.Out));
    QVERIFY2(!cli.Err.contains("Грешка"), qPrintable(cli.Err));
    QVERIFY(target.Dump() == before);

    // What the installation then does: the same rows refused (the limit
    // refusals with the same text), the same counts.
    RecorderView installView;
    installView.Answers = {true};
    const TResult installed = Install(target, installView, packet);
    QVERIFY2(installed.Completed, qPrintable(installView.Errors.join('\n')));
    const QStringList installRefusals = installView.Log.filter(" table: ");
    QCOMPARE(installRefusals.size(), 3);
    QCOMPARE(installRefusals[0], refusals[0]);
    QCOMPARE(installRefusals[1], refusals[1]);
    QVERIFY2(installRefusals[2].endsWith(" table: ARTICLE> 7 Двойник 2 "),
             qPrintable(installRefusals[2]));
    QVERIFY(installView.Log.contains("  ARTICLE              5         2         3         2"));
  }

  // A packet that would install whole: exit 0, and on MySQL the column the
  // installation would add is named but not added.
  void dryRunClean_data() { Kinds(); }
  void dryRunClean() {
    QFETCH(int, kind);
    REQUIRE_KIND_SERVER(kind);
    TTarget target(kind);
    if (kind == kFireBird) target.Exec("ALTER TABLE PRODUCER ADD NOTE VARCHAR(30)");
    const QString packet = WritePacket({{I(7), S("Аспирин"), I(5)}}, [](const QString& folder) {
      WriteChunk(folder, "PRODUCER", 1,
                 {Field("ID", ftInteger), Field("NAME", ftString, 20), Field("NOTE", ftString, 30)},
                 {{I(1), S("Софарма"), S("бележка")}});
    });
    const QStringList before = target.Dump();

    const TCliResult cli = RunCli(target.CliArgs("check", packet));
    QVERIFY2(cli.Exit == 0, qPrintable(cli.Out + cli.Err));
    QVERIFY2(!cli.Err.contains("Грешка"), qPrintable(cli.Err));
    QVERIFY2(cli.Out.contains("Проверката завърши: пакетът може да бъде инсталиран без отказани "
                              "редове (5 реда в 3 таблици). Базата данни не е променена."),
             qPrintable(cli.Out));
    QCOMPARE(cli.Out.contains("В таблица PRODUCER ще бъде добавена колона NOTE varchar(30)"),
             kind == kMySQL);
    QVERIFY(!cli.Out.contains(" table: "));
    const QStringList after = target.Dump();
    QVERIFY2(after == before, qPrintable(FirstDifference(before, after)));
  }

  // A packet that fails the check before any row is looked at: exit 1, one
  // error, nothing changed; a check against MSSQL or without a packet is a
  // usage error.
  void dryRunRefusedPacket_data() {
    QTest::addColumn<int>("kind");
    QTest::addColumn<QString>("how");
    QTest::addColumn<QString>("error");
    for (int kind : {kMySQL, kFireBird}) {
      const char* name = kind == kMySQL ? "mysql" : "firebird";
      QTest::addRow("%s: table the target lacks", name)
          << kind << "drop PRODUCER"
          << "Таблицата PRODUCER от пакета липсва в базата данни";
      QTest::addRow("%s: chunk missing in the middle", name) << kind << "chunk gap"
                                                             << "Липсва част 2 на таблица ARTICLE";
    }
    QTest::addRow("firebird: chunk column the target lacks") << int(kFireBird) << "extra column"
                                                             << "няма колона NOTE";
  }
  void dryRunRefusedPacket() {
    QFETCH(int, kind);
    QFETCH(QString, how);
    QFETCH(QString, error);
    REQUIRE_KIND_SERVER(kind);
    TTarget target(kind);
    if (how == "drop PRODUCER") target.Exec("DROP TABLE PRODUCER");
    const QString packet = WritePacket({{I(7), S("Аспирин"), I(5)}}, [&](const QString& folder) {
      if (how == "chunk gap") QFile::copy(folder + "ARTICLE[1].xml", folder + "ARTICLE[3].xml");
      if (how == "extra column")
        WriteChunk(
            folder, "PRODUCER", 1,
            {Field("ID", ftInteger), Field("NAME", ftString, 20), Field("NOTE", ftString, 30)},
            {{I(1), S("Софарма"), S("бележка")}});
    });
    const QStringList before = target.Dump();
    const TCliResult cli = RunCli(target.CliArgs("check", packet));
    QVERIFY2(cli.Exit == 1, qPrintable(cli.Out + cli.Err));
    QCOMPARE(cli.Err.count("Грешка: "), 1);
    QVERIFY2(cli.Err.contains(error), qPrintable(cli.Err));
    QVERIFY(!cli.Out.contains("Резултат от проверката:"));
    const QStringList after = target.Dump();
    QVERIFY2(after == before, qPrintable(FirstDifference(before, after)));
  }

  // The layout: names padded to the longest, numbers right-aligned under
  // headers that widen for them, "-" for what was not counted.
  void countTableLayout() {
    const QStringList lines = CountTableLines(
        {"Таблица", "A", "Много дълго"}, {{"SUBSTITUDE_ARTICLE", {1234567, 0}}, {"X", {5, -1}}});
    QCOMPARE(lines, QStringList({"  Таблица                   A  Много дълго",
                                 "  SUBSTITUDE_ARTICLE  1234567            0",
                                 "  X                         5            -"}));
  }

  // Differences found without a server: what the manifest lists, what the
  // check counted and what the loader read must agree; a target not yet
  // counted leaves the summary unverified, never clean.
  void summaryDifferences_data() {
    QTest::addColumn<int>("manifestRows");
    QTest::addColumn<int>("rowsRead");
    QTest::addColumn<QStringList>("differences");
    QTest::newRow("all agree") << 4 << 4 << QStringList();
    QTest::newRow("no manifest") << -1 << 4 << QStringList();
    QTest::newRow("manifest differs")
        << 5 << 4
        << QStringList{
               "Таблица ARTICLE: пакетът съдържа 4 реда, а в манифеста му са записани "
               "5 реда."};
    QTest::newRow("loader read other rows")
        << 4 << 1
        << QStringList{
               "Таблица ARTICLE: при проверката на пакета са преброени 4 реда, а при "
               "зареждането са прочетени 1 ред."};
  }
  void summaryDifferences() {
    QFETCH(int, manifestRows);
    QFETCH(int, rowsRead);
    QFETCH(QStringList, differences);
    TPacketContents contents;
    TPacketTable article;
    article.Name = "ARTICLE";
    article.TotalRows = 4;
    article.ManifestRows = manifestRows;
    contents.Tables.append(article);
    TInstallSummary summary;
    summary.Build(contents, {{"ARTICLE", rowsRead, rowsRead, 0}});
    QCOMPARE(summary.Differences(), differences);
    QCOMPARE(summary.Verdict(), differences.isEmpty() ? TInstallSummary::TVerdict::Unverified
                                                      : TInstallSummary::TVerdict::Mismatch);
    QVERIFY(!summary.ErrorText().isEmpty());
    QVERIFY(summary.VerdictLine().startsWith("ВНИМАНИЕ: "));
  }

  void dryRunUsage_data() {
    QTest::addColumn<QStringList>("args");
    QTest::newRow("mssql") << QStringList{"check", "--kind", "mssql", "--packet", "/tmp/p.mpd"};
    QTest::newRow("no packet") << QStringList{"check", "--kind", "mysql"};
    QTest::newRow("option of generate")
        << QStringList{"check", "--kind", "mysql", "--packet", "/tmp/p.mpd", "--out", "/tmp"};
  }
  void dryRunUsage() {
    QFETCH(QStringList, args);
    const TCliResult cli = RunCli(args);
    QCOMPARE(cli.Exit, 1);
    QCOMPARE(cli.Out, QString());
    QVERIFY(!cli.Err.isEmpty());
  }

 private:
  bool FMySQL = false;
  bool FFB = false;
  std::unique_ptr<QTemporaryDir> FCase;
  int FPackets = 0;

  static void Kinds() {
    QTest::addColumn<int>("kind");
    QTest::newRow("mysql") << int(kMySQL);
    QTest::newRow("firebird") << int(kFireBird);
  }

  // A packet of N_NZOK_GROUP (3 rows), ARTICLE (`articles`) and PRODUCER
  // (no rows), with the manifest of what is there once `edit` has had the
  // folder.
  QString WritePacket(const QVector<QVector<Variant>>& articles,
                      const std::function<void(const QString&)>& edit = {}) {
    const QString dir = FCase->path() + QStringLiteral("/packet%1/").arg(++FPackets);
    const QString files = dir + "files/";
    QDir().mkpath(files);
    WriteChunk(files, "N_NZOK_GROUP", 1, kGroupFields,
               {{I(1), S("Първа")}, {I(2), S("Втора")}, {I(3), S("Трета")}});
    WriteChunk(files, "ARTICLE", 1, kArticleFields, articles);
    WriteDescriptor(files, QStringList{"{2.1.0.15}"} + kTables);
    if (edit) edit(files);
    WritePacketManifest(files, kTables);
    const QString packet = dir + "nompack_mydb_20261209-190000.mpd";
    if (!PackFolder(files, packet)) qWarning("the packet could not be packed");
    return packet;
  }

  TResult Install(TTarget& target, RecorderView& view, const QString& packet) {
    return Run(target, view, packet, false);
  }
  TResult Check(TTarget& target, RecorderView& view, const QString& packet) {
    return Run(target, view, packet, true);
  }
  TResult Run(TTarget& target, RecorderView& view, const QString& packet, bool check) {
    TDM dm(view);
    TRunSettings settings;
    target.Configure(settings);
    settings.InstallFile = packet;
    QTemporaryDir programDir;  // no archiver program in it
    TRunContext context{dm, view, [settings] { return settings; }, QString(),
                        programDir.path() + "/"};
    TInstallationRun run(context);
    if (check)
      run.CheckPacket();
    else
      run.InstallPacket();
    TResult result;
    result.Completed = run.LastRunCompleted();
    result.Verdict = run.LastVerdict();
    result.WouldRefuse = run.LastWouldRefuse();
    if (dm.FBIsConnected()) dm.FBDisconnect();
    return result;
  }
};

QTEST_GUILESS_MAIN(TestInstallSummary)
#include "test_install_summary.moc"
