// nompack-cli generate, run as a program against the sample database: exit
// codes, the packet path as the last line of stdout, errors on stderr.
#include <signal.h>

#include <QElapsedTimer>
#include <QTemporaryDir>
#include <QtTest>

#include "GenTestSupport.h"
#include "SavedLog.h"

using namespace GenTest;

namespace {

const QString kSampleName = QStringLiteral("nompack_gen_cli");

struct CliResult {
  int Exit = -1;
  QString Out;
  QString Err;
};

CliResult RunCli(const QStringList& args) {
  CliResult r;
  QByteArray out, err;
  r.Exit = Run(QStringLiteral(NOMPACK_CLI_PATH), args, QString(), &out, &err);
  r.Out = QString::fromUtf8(out);
  r.Err = QString::fromUtf8(err);
  return r;
}

QStringList SourceArgs(int kind, const QString& target) {
  switch (kind) {
    case kMySQL:
      return {QStringLiteral("--kind"),    QStringLiteral("mysql"),      QStringLiteral("--host"),
              QStringLiteral("127.0.0.1"), QStringLiteral("--database"), target};
    case kFireBird:
      return {QStringLiteral("--kind"),    QStringLiteral("firebird"),  QStringLiteral("--host"),
              QStringLiteral("127.0.0.1"), QStringLiteral("--fb-path"), target};
    default:
      return {QStringLiteral("--kind"),    QStringLiteral("mssql"),      QStringLiteral("--host"),
              QStringLiteral("127.0.0.1"), QStringLiteral("--database"), target};
  }
}

}  // namespace

class TestCli : public QObject {
  Q_OBJECT

  QTemporaryDir FTemp;
  QString FOut;
  QMap<int, QString> FUnreachable;

 private slots:
  void initTestCase() {
    UseSQLiteODBCDriver();          // inherited by the program
    qunsetenv("NOMPACK_PASSWORD");  // only the cases that set it see it
    QVERIFY(FTemp.isValid());
    const QString error = PrepareReachableKinds(
        FUnreachable, [](int kind) { return CreateSample(kind, Target(kind, kSampleName)); });
    QVERIFY2(error.isEmpty(), qPrintable(error));
  }

  void cleanupTestCase() {
    for (int kind : {int(kMySQL), int(kFireBird), int(kODBC)})
      if (!FUnreachable.contains(kind)) DropDatabase(kind, Target(kind, kSampleName));
    if (!FUnreachable.contains(kMySQL))
      DropDatabase(kMySQL, QStringLiteral("nompack_gen_cli_missing"));
  }

  void init() {
    static int n = 0;
    FOut = FTemp.path() + QStringLiteral("/out %1").arg(++n);
    QVERIFY(QDir().mkpath(FOut));
  }

  // The help is generated from the options: every option of a command is
  // listed with a description, the other command's options are not, and the
  // exit codes are told.
  void help_data() {
    QTest::addColumn<QStringList>("args");
    QTest::addColumn<QStringList>("listed");
    QTest::addColumn<QStringList>("absent");
    const QStringList common{"--kind",     "--host",    "--database", "--user",
                             "--password", "--fb-path", "--help",     "--version"};
    QTest::newRow("program")
        << QStringList{"--help"}
        << common + QStringList{"generate", "install",          "check", "--out", "--packet",
                                "--reuse",  "NOMPACK_PASSWORD", "  2  ", "  3  "}
        << QStringList{};
    QTest::newRow("generate") << QStringList{"generate", "--help"}
                              << common + QStringList{"--out", "NOMPACK_PASSWORD", "  1  "}
                              << QStringList{"--packet", "--reuse", "  2  "};
    QTest::newRow("install -h") << QStringList{"install", "-h"}
                                << common + QStringList{"--packet", "--reuse", "  2  ", "  3  "}
                                << QStringList{"--out"};
    QTest::newRow("check --help") << QStringList{"check", "--help"}
                                  << common + QStringList{"--packet", "--reuse", "  2  "}
                                  << QStringList{"--out", "  3  "};
  }
  void help() {
    QFETCH(QStringList, args);
    QFETCH(QStringList, listed);
    QFETCH(QStringList, absent);
    const CliResult r = RunCli(args);
    QCOMPARE(r.Exit, 0);
    QCOMPARE(r.Err, QString());
    for (const QString& text : listed) QVERIFY2(r.Out.contains(text), qPrintable(text));
    for (const QString& text : absent) QVERIFY2(!r.Out.contains(text), qPrintable(text));
    // Each option line of the options section carries its description.
    const QString options =
        r.Out.section(QStringLiteral("Options:\n"), 1).section(QStringLiteral("\n\n"), 0, 0);
    int optionLines = 0;
    for (const QString& line : options.split(QLatin1Char('\n'))) {
      if (!line.startsWith(QStringLiteral("  -"))) continue;
      ++optionLines;
      const QStringList words = line.trimmed().split(QLatin1Char(' '), Qt::SkipEmptyParts);
      const bool valueOrSecondName = words.size() > 1 && (words[1].startsWith(QLatin1Char('<')) ||
                                                          words[1].startsWith(QLatin1Char('-')));
      QVERIFY2(words.size() > (valueOrSecondName ? 2 : 1), qPrintable(line));
    }
    QVERIFY(optionLines >= 8);  // help, version and the six connection options
  }

  void version_data() {
    QTest::addColumn<QStringList>("args");
    QTest::newRow("--version") << QStringList{"--version"};
    QTest::newRow("-v") << QStringList{"-v"};
    QTest::newRow("generate --version") << QStringList{"generate", "--version"};
  }
  void version() {
    QFETCH(QStringList, args);
    const CliResult r = RunCli(args);
    QCOMPARE(r.Exit, 0);
    QCOMPARE(r.Out, QStringLiteral("nompack-cli " NOMPACK_VERSION "\n"));
  }

  void badUsage_data() {
    QTest::addColumn<QStringList>("args");
    QTest::newRow("no command") << QStringList{};
    QTest::newRow("unknown command") << QStringList{QStringLiteral("export")};
    QTest::newRow("unknown kind") << QStringList{QStringLiteral("generate"),
                                                 QStringLiteral("--kind"), QStringLiteral("oracle"),
                                                 QStringLiteral("--out"), QStringLiteral("/tmp")};
    QTest::newRow("no --out") << QStringList{QStringLiteral("generate"), QStringLiteral("--kind"),
                                             QStringLiteral("mysql")};
    QTest::newRow("no --packet") << QStringList{"install", "--kind", "firebird"};
    QTest::newRow("no command, options only") << QStringList{"--kind", "mysql"};
    QTest::newRow("unknown option")
        << QStringList{"generate", "--kind", "mysql", "--out", "/tmp", "--bogus"};
    QTest::newRow("option of the other command")
        << QStringList{"generate", "--kind", "mysql", "--out", "/tmp", "--packet", "x.mpd"};
    QTest::newRow("stray argument")
        << QStringList{"generate", "--kind", "mysql", "--out", "/tmp", "secret"};
  }
  void badUsage() {
    QFETCH(QStringList, args);
    const CliResult r = RunCli(args);
    QCOMPARE(r.Exit, 1);
    QCOMPARE(r.Out, QString());
    QVERIFY(!r.Err.isEmpty());
  }

  void generates_data() {
    QTest::addColumn<int>("kind");
    QTest::newRow("mysql") << int(kMySQL);
    QTest::newRow("firebird") << int(kFireBird);
    QTest::newRow("odbc") << int(kODBC);
  }
  void generates() {
    QFETCH(int, kind);
    NOMPACK_REQUIRE_SERVER(!FUnreachable.contains(kind), FUnreachable.value(kind));
    const CliResult r = RunCli(QStringList{QStringLiteral("generate")} +
                               SourceArgs(kind, Target(kind, kSampleName)) +
                               QStringList{QStringLiteral("--out"), FOut});
    QVERIFY2(r.Exit == 0, qPrintable(r.Err));
    const QStringList lines = r.Out.split(QLatin1Char('\n'), Qt::SkipEmptyParts);
    QVERIFY(!lines.isEmpty());
    const QString packet = lines.last();
    QVERIFY2(packet.startsWith(FOut + QStringLiteral("/nompack_") +
                               DataBaseTag(DataBaseTypeFromIndex(kind))),
             qPrintable(packet));
    QVERIFY(packet.endsWith(DataBasePacketExtension(DataBaseTypeFromIndex(kind))));
    QVERIFY(QFileInfo(packet).isFile());
    QCOMPARE(QDir(FOut).entryList(QDir::AllEntries | QDir::NoDotAndDotDot),
             (QStringList{QFileInfo(packet).fileName(), QFileInfo(packet).fileName() + ".log"}));
    // Stdout is the path alone; the summary follows the notice on stderr,
    // and the saved log holds both.
    QCOMPARE(lines, QStringList{packet});
    const QStringList err = r.Err.split(QLatin1Char('\n'), Qt::SkipEmptyParts);
    const qsizetype notice = err.indexOf(QStringLiteral("Процесът приключи успешно!"));
    QVERIFY2(notice >= 0, qPrintable(r.Err));
    const QStringList summary = err.mid(notice + 1);
    QCOMPARE(summary.size(), 42);
    QCOMPARE(summary.first(), QStringLiteral("Пакетът е записан във файла: ") + packet);
    QVERIFY(summary.contains(QStringLiteral("  ARTICLE: 120")));
    const QStringList saved = SavedLogLines(packet + QStringLiteral(".log"));
    QVERIFY(!saved.isEmpty());
    QCOMPARE(saved.mid(1), err.mid(notice));
    QVERIFY2(r.Err.contains(QStringLiteral("[37/37] SUBSTITUDE_ARTICLE")), qPrintable(r.Err));
    QVERIFY(r.Err.contains(QStringLiteral("Процесът приключи успешно!")));
    QVERIFY(!r.Err.contains(QStringLiteral("Грешка")));

    const QString unpacked = FTemp.path() + QStringLiteral("/cli unpacked/");
    QVERIFY(UnpackWithBsdtar(packet, unpacked));
    QCOMPARE(ChunkRowCounts(unpacked, QStringLiteral("ARTICLE")), (QList<int>{50, 50, 20}));
  }

  void failuresExitWithOne_data() {
    QTest::addColumn<QStringList>("args");
    QTest::addColumn<QString>("expected");
    QTest::newRow("missing database")
        << QStringList{QStringLiteral("--kind"), QStringLiteral("mysql"),
                       QStringLiteral("--database"), QStringLiteral("nompack_no_such_db")}
        << "Грешка: Unknown database 'nompack_no_such_db'";
    QTest::newRow("firebird wrong path")
        << QStringList{QStringLiteral("--kind"), QStringLiteral("firebird"),
                       QStringLiteral("--fb-path"), QStringLiteral("/tmp/nompack-fb/none.fdb")}
        << "Грешка: Грешка при свързването!";
  }
  void failuresExitWithOne() {
    QFETCH(QStringList, args);
    QFETCH(QString, expected);
    NOMPACK_REQUIRE_SERVER(!FUnreachable.contains(kMySQL), FUnreachable.value(kMySQL));
    NOMPACK_REQUIRE_SERVER(!FUnreachable.contains(kFireBird), FUnreachable.value(kFireBird));
    const CliResult r = RunCli(QStringList{QStringLiteral("generate")} + args +
                               QStringList{QStringLiteral("--out"), FOut});
    QCOMPARE(r.Exit, 1);
    QCOMPARE(r.Out, QString());
    QVERIFY2(r.Err.contains(expected), qPrintable(r.Err));
    QCOMPARE(r.Err.count(QStringLiteral("Грешка: ")), 1);
  }

  // The server's root has an empty password: a wrong one from the environment
  // is refused, and --password wins over the environment either way.
  void passwordFromEnvironment_data() {
    QTest::addColumn<QString>("environment");
    QTest::addColumn<QStringList>("option");
    QTest::addColumn<int>("exit");
    QTest::newRow("environment used") << "wr0ng-Secret" << QStringList{} << 1;
    QTest::newRow("option over environment")
        << "wr0ng-Secret" << QStringList{"--password", ""} << 0;
    QTest::newRow("option over empty environment")
        << "" << QStringList{"--password", "wr0ng-Secret"} << 1;
  }
  void passwordFromEnvironment() {
    QFETCH(QString, environment);
    QFETCH(QStringList, option);
    QFETCH(int, exit);
    NOMPACK_REQUIRE_SERVER(!FUnreachable.contains(kMySQL), FUnreachable.value(kMySQL));
    qputenv("NOMPACK_PASSWORD", environment.toUtf8());
    const CliResult r = RunCli(QStringList{QStringLiteral("generate")} +
                               SourceArgs(kMySQL, Target(kMySQL, kSampleName)) + option +
                               QStringList{QStringLiteral("--out"), FOut});
    qunsetenv("NOMPACK_PASSWORD");
    QVERIFY2(r.Exit == exit, qPrintable(r.Err));
    if (exit != 0) QVERIFY2(r.Err.contains(QStringLiteral("Access denied")), qPrintable(r.Err));
    QVERIFY(!(r.Out + r.Err).contains(QStringLiteral("wr0ng-Secret")));
  }

  // TERM half-way: the run stops at its next chunk, removes the packet it
  // had begun, says so and exits with 1. Another session holds ARTICLE
  // (LOCK TABLES), so that the program waits at that table, half-way, while
  // the signal is sent; the lock goes right after.
  void termStopsGeneration() {
    NOMPACK_REQUIRE_SERVER(!FUnreachable.contains(kMySQL), FUnreachable.value(kMySQL));
    auto holder = Connect(kMySQL, Target(kMySQL, kSampleName));
    holder->Execute(QStringLiteral("LOCK TABLES ARTICLE WRITE"));
    QProcess cli;
    cli.start(QStringLiteral(NOMPACK_CLI_PATH),
              QStringList{QStringLiteral("generate")} +
                  SourceArgs(kMySQL, Target(kMySQL, kSampleName)) +
                  QStringList{QStringLiteral("--out"), FOut});
    QVERIFY(cli.waitForStarted());
    QElapsedTimer timer;
    timer.start();
    QByteArray err;
    while (!err.contains("] ARTICLE\n") && cli.state() == QProcess::Running &&
           timer.elapsed() < 60000) {
      cli.waitForReadyRead(100);
      err += cli.readAllStandardError();
    }
    // Waiting for the lock, in its count of ARTICLE.
    QTest::qWait(200);
    const bool running = cli.state() == QProcess::Running;
    if (running) ::kill(static_cast<pid_t>(cli.processId()), SIGTERM);
    QTest::qWait(100);
    holder->Execute(QStringLiteral("UNLOCK TABLES"));
    QVERIFY2(running, err.constData());
    QVERIFY(cli.waitForFinished(60000));
    err += cli.readAllStandardError();
    const QString text = QString::fromUtf8(err);
    QCOMPARE(cli.exitStatus(), QProcess::NormalExit);
    QCOMPARE(cli.exitCode(), 1);
    QCOMPARE(cli.readAllStandardOutput(), QByteArray());
    QVERIFY2(text.contains(QStringLiteral("Грешка: Процесът е прекъснат от потребителя.\r\n"
                                          "Генерирането е спряно; незавършеният пакет е изтрит.")),
             qPrintable(text));
    QVERIFY2(!text.contains(QStringLiteral("[22/37]")), qPrintable(text));
    QVERIFY(!text.contains(QStringLiteral("Процесът приключи успешно!")));
    // No packet folder, no packet file, no archive: the run's log alone.
    const QStringList left = QDir(FOut).entryList(QDir::AllEntries | QDir::NoDotAndDotDot);
    QCOMPARE(left.size(), 1);
    QVERIFY2(left.first().endsWith(QStringLiteral(".mpd.log")), qPrintable(left.first()));
  }

  // An error no step catches: the message, where it happened, exit 1.
  void propagatedErrorShowsItsContext() {
    NOMPACK_REQUIRE_SERVER(!FUnreachable.contains(kMySQL), FUnreachable.value(kMySQL));
    const QString target = QStringLiteral("nompack_gen_cli_missing");
    const QString error = CreateSample(kMySQL, target);
    QVERIFY2(error.isEmpty(), qPrintable(error));
    Connect(kMySQL, target)->Execute(QStringLiteral("DROP TABLE VTR_ENV_VARS"));
    const CliResult r =
        RunCli(QStringList{QStringLiteral("generate")} + SourceArgs(kMySQL, target) +
               QStringList{QStringLiteral("--out"), FOut});
    QCOMPARE(r.Exit, 1);
    QCOMPARE(r.Out, QString());
    QVERIFY2(
        r.Err.contains(QStringLiteral("Грешка: Table '%1.vtr_env_vars' doesn't exist.").arg(target),
                       Qt::CaseInsensitive),
        qPrintable(r.Err));
    QVERIFY2(r.Err.contains(QStringLiteral("(counting the rows of VTR_ENV_VARS)")),
             qPrintable(r.Err));
    QVERIFY(!r.Err.contains(QStringLiteral("Процесът приключи успешно!")));
  }
};

QTEST_GUILESS_MAIN(TestCli)
#include "test_cli.moc"
