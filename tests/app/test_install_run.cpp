// The installation run: file checks, a refused connection that touches
// nothing, reuse of an unpacked folder (Yes and No), the safety of the
// folder removal, crafted and broken packets that are refused before the
// target is touched, and the MSSQL run that ends after the descriptor check.
#include <archive.h>
#include <archive_entry.h>

#include <QTemporaryDir>
#include <QtTest>

#include "Archiver.h"
#include "DataModule.h"
#include "InstallLog.h"
#include "InstallRunRig.h"
#include "InstallationRun.h"
#include "PacketManifestCheck.h"
#include "RecorderView.h"
#include "SavedLog.h"
#include "test_install_support.h"

using namespace InstallTest;

namespace {

const QString kMySQLDb = QStringLiteral("nompack_t_run");
const QString kReuseQuestion = QStringLiteral(
    "Вече съществува разархивиран пакет с инсталационни данни.\r\n"
    "Желаете ли да ги използвате и да пропуснете процеса на разархивиране?");
const QString kLogHeader = QStringLiteral("===== Инсталиране на пакет, ");
const QStringList kMySQLLog = {
    "Изтриване на таблици с репл.данни от обекти...", "Изтриване на таблици с документи...",
    "Изтриване на таблици с номенклатури...", "Зареждане на данни за номенклатури...", "..."};

struct TRig : TInstallRunRig {
  TRig(int kind, const QString& packet) : TInstallRunRig(kind, packet, kMySQLDb) {}
};

const QVector<TFieldDef> kFields = {Field("ID", ftInteger), Field("NAME", ftString, 20)};

// A packet folder's files: N_NZOK_GROUP with `groupRows` rows, ARTICLE with 2.
void WritePacketFiles(const QString& folder, int groupRows, const QStringList& descriptor = {}) {
  QVector<QVector<Variant>> rows;
  for (int i = 1; i <= groupRows; ++i) rows.append({I(i), S(QStringLiteral("Група %1").arg(i))});
  WriteChunk(folder, "N_NZOK_GROUP", 1, kFields, rows);
  WriteChunk(folder, "ARTICLE", 1, kFields, {{I(7), S("Аспирин")}, {I(8), S("Бинт")}});
  WriteDescriptor(folder, descriptor.isEmpty()
                              ? QStringList{"{2.1.0.15}", "N_NZOK_GROUP", "ARTICLE"}
                              : descriptor);
}

// Writes a ZIP whose entries carry the given stored names.
void WriteZip(const QString& zip, const QList<QPair<QByteArray, QByteArray>>& entries) {
  struct archive* a = archive_write_new();
  archive_write_set_format_zip(a);
  QVERIFY(archive_write_open_filename(a, zip.toLocal8Bit().constData()) == ARCHIVE_OK);
  for (const auto& [name, data] : entries) {
    struct archive_entry* e = archive_entry_new();
    archive_entry_set_pathname(e, name.constData());
    archive_entry_set_filetype(e, AE_IFREG);
    archive_entry_set_perm(e, 0644);
    archive_entry_set_size(e, data.size());
    archive_write_header(a, e);
    archive_write_data(a, data.constData(), data.size());
    archive_entry_free(e);
  }
  archive_write_close(a);
  archive_write_free(a);
}

QByteArray ReadAll(const QString& path) {
  QFile f(path);
  return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray("<missing>");
}

}  // namespace

class TestInstallRun : public QObject {
  Q_OBJECT

 private slots:
  void initTestCase() {
    FMySQL = MySQLReachable();
    FFB = FBReachable();
    QVERIFY(FDir.isValid());
  }

  // A target that shows whether it was touched: a replica table, the
  // documents, and the two tables the packets carry with rows of their own.
  void init() {
    if (!FMySQL) return;
    FDb = std::make_unique<TScratchMySQL>(kMySQLDb);
    CreateDocuments(*FDb);
    FDb->Exec("CREATE TABLE SALE_12 (ID INT)");
    FDb->Exec(
        "CREATE TABLE N_NZOK_GROUP (ID INT NOT NULL AUTO_INCREMENT PRIMARY KEY, NAME VARCHAR(20))");
    FDb->Exec("CREATE TABLE ARTICLE (ID INT NOT NULL PRIMARY KEY, NAME VARCHAR(20))");
    FDb->Exec("INSERT INTO N_NZOK_GROUP VALUES (101, 'стара'), (102, 'стара')");
    FDb->Exec("INSERT INTO ARTICLE VALUES (901, 'стар')");
    FCase = std::make_unique<QTemporaryDir>(FDir.path() + "/caseXXXXXX");
  }
  void cleanup() {
    FDb.reset();
    FCase.reset();
  }

  void fileChecks_data() {
    QTest::addColumn<QString>("file");
    QTest::addColumn<QString>("error");
    QTest::newRow("empty") << ""
                           << "Изберете файл!";
    QTest::newRow("blanks and control characters") << " \t\x01 "
                                                   << "Изберете файл!";
    QTest::newRow("missing") << "/nonexistent/p.fpd"
                             << "Файлът \"/nonexistent/p.fpd\" не съществува!";
    QTest::newRow("a folder") << "/tmp"
                              << "Файлът \"/tmp\" не съществува!";
  }
  void fileChecks() {
    QFETCH(QString, file);
    QFETCH(QString, error);
    TRig rig(0, file);
    rig.Run.InstallPacket();
    QCOMPARE(rig.View.Errors, QStringList({error}));
    QVERIFY(!rig.DM.MySQLIsConnected());
    QVERIFY(!rig.Run.LastRunCompleted());
  }

  // The file is taken as typed: a leading blank makes another name.
  void fileTakenAsTyped() {
    const QString packet = Case() + "p.mpd";
    WriteText(packet, "x");
    TRig rig(0, " " + packet);
    rig.Run.InstallPacket();
    QCOMPARE(rig.View.Errors, QStringList({QString("Файлът \" %1\" не съществува!").arg(packet)}));
  }

  // A refused connection leaves the disk as it was: nothing unpacked.
  void connectionFailureTouchesNothing_data() {
    QTest::addColumn<int>("kind");
    QTest::addColumn<QString>("error");
    QTest::newRow("MySQL") << 0 << "nompack_t_no_such_db";
    QTest::newRow("FireBird") << 1 << "Грешка при свързването!";
  }
  void connectionFailureTouchesNothing() {
    QFETCH(int, kind);
    QFETCH(QString, error);
    NOMPACK_REQUIRE_SERVER(kind == 0 ? FMySQL : FFB, kind == 0 ? "MariaDB" : "Firebird");
    const QString packet = MakePacket(3);
    TRig rig(kind, packet);
    rig.Settings.DBName = "nompack_t_no_such_db";
    rig.Settings.FBDBFullPath = "/tmp/nompack-fb/no_such_database.fdb";
    rig.Run.InstallPacket();
    QCOMPARE(rig.View.Errors.size(), 1);
    QVERIFY2(rig.View.Errors[0].contains(error), qPrintable(rig.View.Errors[0]));
    QVERIFY(!QFileInfo::exists(Case() + "nompack_mydb_20240307-091502"));
    QVERIFY(!rig.Run.LastRunCompleted());
  }

  // First run extracts without a question; Yes uses the folder as it is
  // (a chunk edited and recorded in the manifest, as the explorer saves it,
  // included); No extracts afresh.
  void reuseYesAndNo() {
    NOMPACK_REQUIRE_SERVER(FMySQL, "MariaDB 127.0.0.1:3306");
    const QString packet = MakePacket(3, [](const QString& folder) {
      WritePacketManifest(folder, {"N_NZOK_GROUP", "ARTICLE"});
    });
    const QString folder = Case() + "nompack_mydb_20240307-091502/";
    {
      TRig rig(0, packet);
      rig.Run.InstallPacket();
      QVERIFY2(rig.Run.LastRunCompleted(), qPrintable(rig.View.Errors.join('\n')));
      QVERIFY(rig.View.Questions.isEmpty());
      QCOMPARE(rig.Context.PacketFolder, folder);
      QCOMPARE(WithoutSummaries(rig.View.Log), kMySQLLog);
      QVERIFY2(rig.View.Log.last().startsWith("Инсталацията завърши успешно"),
               qPrintable(rig.View.Log.last()));
      QCOMPARE(FDb->Count("N_NZOK_GROUP"), 3);
      QVERIFY(!FDb->TableExists("SALE_12"));
    }
    WriteChunk(folder, "N_NZOK_GROUP", 1, kFields, {{I(1), S("редактиран")}});
    QVERIFY(UpdateManifestForChunk(folder + "N_NZOK_GROUP[1].xml", 1));
    {
      TRig rig(0, packet);
      rig.View.Answers = {true};
      rig.Run.InstallPacket();
      QVERIFY(rig.Run.LastRunCompleted());
      QCOMPARE(rig.View.Questions, QStringList({kReuseQuestion}));
      QCOMPARE(FDb->Count("N_NZOK_GROUP"), 1);
    }
    {
      TRig rig(0, packet);
      rig.View.Answers = {false};
      rig.Run.InstallPacket();
      QVERIFY(rig.Run.LastRunCompleted());
      QCOMPARE(rig.View.Questions.size(), 1);
      QCOMPARE(FDb->Count("N_NZOK_GROUP"), 3);
    }
  }

  // Without a manifest nothing vouches for a chunk of another size than the
  // packet's: Yes is refused and the target stays as it was.
  void reuseOfAChangedFolderWithoutManifest() {
    NOMPACK_REQUIRE_SERVER(FMySQL, "MariaDB 127.0.0.1:3306");
    const QString packet = MakePacket(3);
    const QString folder = Case() + "nompack_mydb_20240307-091502/";
    QString error;
    QVERIFY(TArchiver(QString()).ExtractPacket(packet, folder, error));
    WriteChunk(folder, "N_NZOK_GROUP", 1, kFields, {{I(1), S("редактиран")}});
    TRig rig(0, packet);
    rig.View.Answers = {true};
    rig.Run.InstallPacket();
    QCOMPARE(rig.View.Questions.size(), 1);
    QCOMPARE(rig.View.Errors.size(), 1);
    QVERIFY2(rig.View.Errors[0].contains("\"N_NZOK_GROUP[1].xml\""),
             qPrintable(rig.View.Errors[0]));
    QVERIFY(!rig.Run.LastRunCompleted());
    QVERIFY(rig.View.Log.isEmpty());
    QCOMPARE(FDb->Count("N_NZOK_GROUP"), 2);
    QVERIFY(FDb->TableExists("SALE_12"));
  }

  // No removes the folder only when it holds nothing but packet files;
  // otherwise it stays as it is and the target is not touched.
  void foreignContentKeepsTheFolder_data() {
    QTest::addColumn<QString>("foreign");
    QTest::addColumn<bool>("asked");
    QTest::newRow("a file of the user") << "notes.txt" << true;
    QTest::newRow("a subfolder only") << "photos/" << false;
    QTest::newRow("a subfolder beside packet files") << "photos/" << true;
  }
  void foreignContentKeepsTheFolder() {
    NOMPACK_REQUIRE_SERVER(FMySQL, "MariaDB 127.0.0.1:3306");
    QFETCH(QString, foreign);
    QFETCH(bool, asked);
    const QString packet = MakePacket(3);
    const QString folder = Case() + "nompack_mydb_20240307-091502/";
    QDir().mkpath(folder);
    if (asked) WriteText(folder + "tables.descr", "{1}\r\n");
    if (foreign.endsWith('/')) {
      QDir().mkpath(folder + foreign);
      WriteText(folder + foreign + "a.jpg", "jpeg");
    } else {
      WriteText(folder + foreign, "mine");
    }
    TRig rig(0, packet);
    rig.View.Answers = {false};
    rig.Run.InstallPacket();
    QCOMPARE(rig.View.Questions.size(), asked ? 1 : 0);
    QCOMPARE(rig.View.Errors.size(), 1);
    QVERIFY2(rig.View.Errors[0].contains(foreign.chopped(foreign.endsWith('/') ? 1 : 0)),
             qPrintable(rig.View.Errors[0]));
    QVERIFY(!rig.Run.LastRunCompleted());
    QVERIFY(QFileInfo::exists(folder + foreign + (foreign.endsWith('/') ? "a.jpg" : "")));
    if (asked) QCOMPARE(ReadAll(folder + "tables.descr"), QByteArray("{1}\r\n"));
    QVERIFY(FDb->TableExists("SALE_12"));
    QCOMPARE(FDb->Count("N_NZOK_GROUP"), 2);
    QVERIFY(rig.View.Log.isEmpty());
  }

  // A file the packet itself holds is not the user's: No replaces it.
  void packetOwnFilesMayGo() {
    NOMPACK_REQUIRE_SERVER(FMySQL, "MariaDB 127.0.0.1:3306");
    const QString packet =
        MakePacket(3, [](const QString& folder) { WriteText(folder + "readme.txt", "из пакета"); });
    const QString folder = Case() + "nompack_mydb_20240307-091502/";
    for (int pass = 0; pass < 2; ++pass) {
      TRig rig(0, packet);
      rig.View.Answers = {false};
      rig.Run.InstallPacket();
      QVERIFY2(rig.Run.LastRunCompleted(), qPrintable(rig.View.Errors.join('\n')));
      QCOMPARE(rig.View.Questions.size(), pass);
    }
    // What is not a packet file is never unpacked, whatever the packet holds.
    QVERIFY(!QFileInfo::exists(folder + "readme.txt"));
    QVERIFY(QFileInfo::exists(folder + "ARTICLE[1].xml"));
  }

  // An empty folder is replaced without a question; Yes with a folder that
  // lacks the descriptor stops and leaves the folder as it is.
  void emptyFolderAndMissingDescriptor() {
    NOMPACK_REQUIRE_SERVER(FMySQL, "MariaDB 127.0.0.1:3306");
    const QString packet = MakePacket(3);
    const QString folder = Case() + "nompack_mydb_20240307-091502/";
    QDir().mkpath(folder);
    {
      TRig rig(0, packet);
      rig.Run.InstallPacket();
      QVERIFY(rig.View.Questions.isEmpty());
      QVERIFY(rig.Run.LastRunCompleted());
    }
    QFile::remove(folder + "tables.descr");
    {
      TRig rig(0, packet);
      rig.View.Answers = {true};
      rig.Run.InstallPacket();
      QCOMPARE(rig.View.Errors, QStringList({"Не е открит файл с описание на пакетите!"}));
      QStringList left = QDir(folder).entryList(QDir::Files);
      left.sort();
      QCOMPARE(left, QStringList({"ARTICLE[1].xml", "N_NZOK_GROUP[1].xml"}));
    }
  }

  // Packets that must not reach the target: the run stops before the
  // cleanup, so the replica table and the old rows are still there.
  void refusedPackets_data() {
    QTest::addColumn<QString>("kind");
    QTest::addColumn<QString>("error");
    QTest::newRow("SQL in a table name")
        << "table"
        << "Невалидно име на таблица \"ARTICLE; DROP TABLE SALE_12\"";
    QTest::newRow("SQL in a column name") << "column"
                                          << "Невалидно име на колона \"NAME) VALUES (1); --\"";
    QTest::newRow("a chunk that is no data packet") << "chunk"
                                                    << "ARTICLE[1].xml";
    QTest::newRow("an empty descriptor") << "descriptor"
                                         << "Празен файл с описание!";
    QTest::newRow("no archive at all") << "archive"
                                       << "не може да бъде разархивиран";
  }
  void refusedPackets() {
    NOMPACK_REQUIRE_SERVER(FMySQL, "MariaDB 127.0.0.1:3306");
    QFETCH(QString, kind);
    QFETCH(QString, error);
    const QString packet = MakePacket(3, [&](const QString& folder) {
      if (kind == "table")
        WriteDescriptor(folder, {"{1}", "N_NZOK_GROUP", "ARTICLE; DROP TABLE SALE_12"});
      if (kind == "column")
        WriteChunk(folder, "ARTICLE", 1,
                   {Field("ID", ftInteger), Field("NAME) VALUES (1); --", ftString, 20)},
                   {{I(1), S("x")}});
      if (kind == "chunk")
        WriteText(folder + "ARTICLE[1].xml", "<DATAPACKET Version=\"2.0\"><METADATA>");
      if (kind == "descriptor") WriteText(folder + "tables.descr", "");
    });
    if (kind == "archive") WriteText(packet, "this is no archive");
    TRig rig(0, packet);
    rig.Run.InstallPacket();
    QCOMPARE(rig.View.Errors.size(), 1);
    QVERIFY2(rig.View.Errors[0].contains(error), qPrintable(rig.View.Errors[0]));
    QVERIFY(!rig.Run.LastRunCompleted());
    QVERIFY(FDb->TableExists("SALE_12"));
    QCOMPARE(FDb->Count("DENIAL"), 1);
    QCOMPARE(FDb->Count("N_NZOK_GROUP"), 2);
    QCOMPARE(FDb->Count("ARTICLE"), 1);
    QVERIFY(rig.View.Log.isEmpty());
    // The saved log beside the packet holds the error box's text.
    const QStringList saved = SavedLogLines(packet + ".log");
    QVERIFY(!saved.isEmpty());
    QVERIFY2(saved.first().startsWith(kLogHeader), qPrintable(saved.first()));
    QVERIFY2(saved.contains("Грешка: " + rig.View.Errors[0]), qPrintable(saved.join('\n')));
  }

  // Refused rows reach the saved log in full, Cyrillic intact, after the
  // stage lines, as the log window shows them. A second run appends its own
  // log under a header of its own.
  void savedLogWithRefusedRows() {
    NOMPACK_REQUIRE_SERVER(FMySQL, "MariaDB 127.0.0.1:3306");
    const QString packet = MakePacket(3, [](const QString& folder) {
      WriteChunk(folder, "ARTICLE", 1, kFields,
                 {{I(7), S("Аспирин")}, {I(7), S("Дубликат „№7“")}, {I(8), S("Бинт")}});
    });
    TRig rig(0, packet);
    rig.Run.InstallPacket();
    QVERIFY2(rig.Run.LastRunCompleted(), qPrintable(rig.View.Errors.join('\n')));
    QCOMPARE(rig.Run.LastRefusedRows(), 1);
    QCOMPARE(FDb->Count("ARTICLE"), 2);
    const QStringList refused =
        rig.View.Log.filter(QStringLiteral(" table: ARTICLE> 7 Дубликат „№7“ "));
    QCOMPARE(refused.size(), 1);
    QVERIFY2(refused.first().contains("Duplicate entry"), qPrintable(refused.first()));

    QStringList saved = SavedLogLines(packet + ".log");
    QVERIFY(!saved.isEmpty());
    QVERIFY2(saved.first().startsWith(kLogHeader), qPrintable(saved.first()));
    QCOMPARE(saved.mid(1), rig.View.Log);
    QVERIFY(saved.contains(refused.first()));

    rig.View.Answers = {true};
    rig.Run.InstallPacket();
    QVERIFY(rig.Run.LastRunCompleted());
    saved = SavedLogLines(packet + ".log");
    QCOMPARE(saved.filter(kLogHeader).size(), 2);
    QVERIFY2(saved.contains(kReuseQuestion.split("\r\n").last() + " Да"),
             qPrintable(saved.join('\n')));
    QCOMPARE(saved.filter(refused.first()).size(), 2);
  }

  // A log that cannot be written (a folder holds its name) leaves the run's
  // result as it was and says so in the log window.
  void logThatCannotBeWritten() {
    NOMPACK_REQUIRE_SERVER(FMySQL, "MariaDB 127.0.0.1:3306");
    const QString packet = MakePacket(3, [](const QString& folder) {
      WriteChunk(folder, "ARTICLE", 1, kFields, {{I(7), S("Аспирин")}, {I(7), S("Дубликат")}});
    });
    QVERIFY(QDir().mkpath(packet + ".log"));
    TRig rig(0, packet);
    rig.Run.InstallPacket();
    QVERIFY2(rig.Run.LastRunCompleted(), qPrintable(rig.View.Errors.join('\n')));
    QCOMPARE(rig.Run.LastRefusedRows(), 1);
    QCOMPARE(rig.View.Errors, QStringList());
    QCOMPARE(FDb->Count("N_NZOK_GROUP"), 3);
    QCOMPARE(FDb->Count("ARTICLE"), 1);
    QVERIFY2(
        rig.View.Log.last().startsWith(
            QStringLiteral("Дневникът на процеса не е записан във файла \"%1.log\": ").arg(packet)),
        qPrintable(rig.View.Log.last()));
    // The refused row, the summary, the failure.
    QCOMPARE(WithoutSummaries(rig.View.Log).size(), kMySQLLog.size() + 2);
    QVERIFY(rig.View.Log.contains("  ARTICLE              2         1         1         1"));
  }

  // Stored folders, ".." and absolute paths: every entry lands under its
  // bare name inside the unpack folder, nothing outside it.
  void archiveEntriesStayInside() {
    NOMPACK_REQUIRE_SERVER(FMySQL, "MariaDB 127.0.0.1:3306");
    QTemporaryDir files;
    WritePacketFiles(files.path() + "/", 3);
    const QString outside = Case() + "outside/";
    QDir().mkpath(outside);
    const QString packet = Case() + "nompack_mydb_20240307-091502.mpd";
    WriteZip(packet,
             {{"tables.descr", ReadAll(files.path() + "/tables.descr")},
              {"deep/folder/N_NZOK_GROUP[1].xml", ReadAll(files.path() + "/N_NZOK_GROUP[1].xml")},
              {"../ARTICLE[1].xml", ReadAll(files.path() + "/ARTICLE[1].xml")},
              {"../outside/escaped.txt", "x"},
              {(outside + "absolute.txt").toLocal8Bit(), "y"}});
    TRig rig(0, packet);
    rig.Run.InstallPacket();
    QVERIFY2(rig.Run.LastRunCompleted(), qPrintable(rig.View.Errors.join('\n')));
    QCOMPARE(QDir(outside).entryList(QDir::Files), QStringList());
    QVERIFY(!QFileInfo::exists(Case() + "ARTICLE[1].xml"));
    QStringList unpacked = QDir(rig.Context.PacketFolder).entryList(QDir::Files);
    unpacked.sort();
    // Files that are not the packet's own are not unpacked at all.
    QCOMPARE(unpacked, QStringList({"ARTICLE[1].xml", "N_NZOK_GROUP[1].xml", "tables.descr"}));
    QCOMPARE(FDb->Count("N_NZOK_GROUP"), 3);
    QCOMPARE(FDb->Count("ARTICLE"), 2);
  }

  // A second run of the same kind closes the connection the first left open.
  void secondRunReconnects() {
    NOMPACK_REQUIRE_SERVER(FMySQL, "MariaDB 127.0.0.1:3306");
    const QString packet = MakePacket(3);
    TRig rig(0, packet);
    rig.Run.InstallPacket();
    QVERIFY(rig.Run.LastRunCompleted());
    QVERIFY(rig.DM.MySQLIsConnected());
    rig.View.Answers = {true};
    rig.Run.InstallPacket();
    QVERIFY2(rig.Run.LastRunCompleted(), qPrintable(rig.View.Errors.join('\n')));
    QCOMPARE(WithoutSummaries(rig.View.Log), kMySQLLog + kMySQLLog);
    QCOMPARE(rig.View.Log.filter("Инсталацията завърши успешно").size(), 2);
  }

  // MSSQL: connection, unpacking and the descriptor check, then silence.
  void mssqlStopsAfterDescriptor() {
    QTemporaryDir sqlite;
    const QString database = sqlite.path() + "/target.sqlite";
    WriteText(database, "");
    qputenv("NOMPACK_MSSQL_ODBC_DRIVER", "SQLite3");
    const QString packet = MakePacket(3);
    TRig rig(2, packet);
    rig.Settings.DBName = database;
    rig.Run.InstallPacket();
    qunsetenv("NOMPACK_MSSQL_ODBC_DRIVER");
    QVERIFY2(rig.Run.LastRunCompleted(), qPrintable(rig.View.Errors.join('\n')));
    QVERIFY(rig.View.Errors.isEmpty());
    QVERIFY(rig.View.Log.isEmpty());
    QVERIFY(rig.View.CallsOf("install").isEmpty());
    QVERIFY(rig.DM.MSSQLIsConnected());
    QVERIFY(QFileInfo::exists(rig.Context.PacketFolder + "tables.descr"));
  }

 private:
  bool FMySQL = false;
  bool FFB = false;
  QTemporaryDir FDir;
  std::unique_ptr<TScratchMySQL> FDb;
  std::unique_ptr<QTemporaryDir> FCase;

  QString Case() const { return FCase ? FCase->path() + "/" : FDir.path() + "/"; }

  // A packet file next to where it unpacks, made from the packet files with
  // `edit` applied.
  QString MakePacket(int groupRows, const std::function<void(const QString&)>& edit = {}) {
    if (!FCase) FCase = std::make_unique<QTemporaryDir>(FDir.path() + "/caseXXXXXX");
    QTemporaryDir files;
    const QString folder = files.path() + "/";
    WritePacketFiles(folder, groupRows);
    if (edit) edit(folder);
    const QString packet = Case() + "nompack_mydb_20240307-091502.mpd";
    QFile::remove(packet);
    if (!PackFolder(folder, packet)) qWarning("bsdtar failed");
    return packet;
  }
};

QTEST_GUILESS_MAIN(TestInstallRun)
#include "test_install_run.moc"
