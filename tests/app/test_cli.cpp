// nompack-cli generate, run as a program against the sample database: exit
// codes, the packet path as the last line of stdout, errors on stderr.
#include <QTemporaryDir>
#include <QtTest>

#include "GenTestSupport.h"

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
    UseSQLiteODBCDriver();  // inherited by the program
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

  void help() {
    const CliResult r = RunCli({QStringLiteral("--help")});
    QCOMPARE(r.Exit, 0);
    for (const char* option : {"generate", "install", "--kind", "--host", "--database", "--user",
                               "--password", "--fb-path", "--out"})
      QVERIFY2(r.Out.contains(QLatin1String(option)), option);
    QCOMPARE(RunCli({QStringLiteral("generate"), QStringLiteral("--help")}).Exit, 0);
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
             QStringList{QFileInfo(packet).fileName()});
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
