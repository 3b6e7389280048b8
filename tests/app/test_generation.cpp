// The generation run end to end on the sample pharmacy database of each
// source kind (MariaDB, Firebird, the ODBC layer on SQLite): the packet a
// standard tool unpacks, its descriptor and chunk files against the source,
// the progress calls, the PARCEL repair, and each way the run can fail.
#include <signal.h>

#include <QDateTime>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QtTest>
#include <atomic>

#include "Archiver.h"
#include "DateTime.h"
#include "GenTestSupport.h"
#include "GenerationRun.h"
#include "PacketManifestCheck.h"
#include "Progress.h"
#include "RecorderView.h"
#include "SavedLog.h"

using namespace GenTest;

namespace {

const QString kSuccess = QStringLiteral("Процесът приключи успешно!");
const QString kSampleName = QStringLiteral("nompack_gen_run");
const QString kLogHeader = QStringLiteral("===== Генериране на пакет, ");
const QString kLogNotWritten = QStringLiteral("Дневникът на процеса не е записан във файла \"%1\"");

// A stand-in for the rar program of the program folder, running `script`.
void InstallRar(const QString& programFolder, const char* script) {
  QDir().mkpath(programFolder);
  QFile f(programFolder + QStringLiteral("rar"));
  QVERIFY(f.open(QIODevice::WriteOnly));
  f.write(script);
  f.close();
  f.setPermissions(QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
}

void InstallFailingRar(const QString& programFolder) {
  InstallRar(programFolder, "#!/bin/sh\necho 'rar: out of disk space' >&2\nexit 5\n");
}

// A view that presses the button again while a table is being exported.
class ReenteringView : public RecorderView {
 public:
  std::function<void()> OnTable;
  void ShowTableProgress(int done, int total) override {
    RecorderView::ShowTableProgress(done, total);
    if (OnTable) OnTable();
  }
};

// A view that asks the run to stop at a chosen progress call, as the window
// does when Escape there is answered Yes.
class StoppingView : public RecorderView {
 public:
  QString StopInTable;  // the table whose progress asks the stop
  int StopAtRows = 0;   // once that many of its rows are out; 0: at its start
  int CallsAtStop = -1;

  void ShowMainProgress(const QString& caption, int done, int total) override {
    RecorderView::ShowMainProgress(caption, done, total);
    FTable = caption;
    if (StopAtRows == 0 && caption == StopInTable) Stop();
  }
  void ShowTableProgress(int done, int total) override {
    RecorderView::ShowTableProgress(done, total);
    if (StopAtRows > 0 && FTable == StopInTable && done >= StopAtRows) Stop();
  }

 private:
  QString FTable;
  void Stop() {
    if (CallsAtStop >= 0) return;
    CallsAtStop = Calls.size();
    RequestStop();
  }
};

const QString kStopped = QStringLiteral("Генерирането е спряно; незавършеният пакет е изтрит.");

// The threads of this process now.
int ThreadCount() {
  return int(
      QDir(QStringLiteral("/proc/self/task")).entryList(QDir::Dirs | QDir::NoDotAndDotDot).size());
}

// The stop flag a signal sets, as the command line's handler does.
std::atomic<bool>* SignalStopFlag = nullptr;
void StopOnSignal(int /*signal*/) {
  if (SignalStopFlag) SignalStopFlag->store(true);
}

}  // namespace

class TestGeneration : public QObject {
  Q_OBJECT

  QTemporaryDir FTemp;
  QString FExportFolder;  // a fresh one (with a space in its path) per test row
  QMap<int, QString> FUnreachable;

  std::unique_ptr<RecorderView> FView;
  std::unique_ptr<TDM> FDM;
  std::unique_ptr<TRunContext> FContext;
  TRunSettings FSettings;

  struct Outcome {
    bool Threw = false;
    QString Message;
    QString FullText;
  };

  void Prepare(const TRunSettings& settings, const QString& programFolder = QString(),
               std::unique_ptr<RecorderView> view = nullptr) {
    FSettings = settings;
    FView = view ? std::move(view) : std::make_unique<RecorderView>();
    FDM = std::make_unique<TDM>(*FView);
    FContext = std::make_unique<TRunContext>(TRunContext{
        *FDM, *FView, [this] { return FSettings; }, QString(),
        programFolder.isEmpty() ? FTemp.path() + QStringLiteral("/no program/") : programFolder});
  }

  Outcome Generate(TGenerationRun& run) {
    Outcome o;
    try {
      run.GenerateExport();
    } catch (const ENompackError& e) {
      o.Threw = true;
      o.Message = e.Message();
      o.FullText = e.FullText();
    }
    return o;
  }

  bool Connected(int kind) const {
    switch (kind) {
      case kMySQL:
        return FDM->MySQLIsConnected();
      case kFireBird:
        return FDM->FBIsConnected();
      default:
        return FDM->MSSQLIsConnected();
    }
  }

  // The run's last two calls are the progress reset.
  void VerifyReset() {
    QVERIFY(FView->Calls.size() >= 2);
    const auto& main = FView->Calls.at(FView->Calls.size() - 2);
    const auto& table = FView->Calls.last();
    QCOMPARE(main.Kind, QStringLiteral("main"));
    QCOMPARE(main.Text, QStringLiteral("..."));
    QCOMPARE(main.Done, 0);
    QCOMPARE(table.Kind, QStringLiteral("table"));
    QCOMPARE(table.Done, 0);
    QCOMPARE(FView->MainBar, 0);
    QCOMPARE(FView->TableBar, 0);
  }

  QStringList ExportFolderEntries() const {
    return QDir(FExportFolder).entryList(QDir::AllEntries | QDir::NoDotAndDotDot, QDir::Name);
  }

  static void AddKindRows() {
    QTest::addColumn<int>("kind");
    QTest::newRow("mysql") << int(kMySQL);
    QTest::newRow("firebird") << int(kFireBird);
    QTest::newRow("odbc") << int(kODBC);
  }

#define REQUIRE_KIND(kind) \
  NOMPACK_REQUIRE_SERVER(!FUnreachable.contains(kind), FUnreachable.value(kind))

 private slots:
  void initTestCase() {
    UseSQLiteODBCDriver();
    QVERIFY(FTemp.isValid());
    const QString error = PrepareReachableKinds(
        FUnreachable, [](int kind) { return CreateSample(kind, Target(kind, kSampleName)); });
    QVERIFY2(error.isEmpty(), qPrintable(error));
  }

  void cleanupTestCase() {
    for (int kind : {int(kMySQL), int(kFireBird), int(kODBC)}) {
      if (FUnreachable.contains(kind)) continue;
      for (const char* name : {"nompack_gen_run", "nompack_gen_parcel", "nompack_gen_missing"})
        DropDatabase(kind, Target(kind, QString::fromLatin1(name)));
    }
  }

  void init() {
    static int n = 0;
    FExportFolder = FTemp.path() + QStringLiteral("/export %1/").arg(++n);
    QVERIFY(QDir().mkpath(FExportFolder));
  }

  void cleanup() {
    FContext.reset();
    FDM.reset();
    FView.reset();
  }

  void fbConnectString_data() {
    QTest::addColumn<QString>("host");
    QTest::addColumn<QString>("expected");
    QTest::newRow("empty server") << ""
                                  << "127.0.0.1:/data/my db.fdb";
    QTest::newRow("a space is kept") << " "
                                     << " :/data/my db.fdb";
    QTest::newRow("named server") << "srv "
                                  << "srv :/data/my db.fdb";
  }
  void fbConnectString() {
    QFETCH(QString, host);
    QFETCH(QString, expected);
    TRunSettings s;
    s.FBDBHost = host;
    s.FBDBFullPath = QStringLiteral("/data/my db.fdb");
    Prepare(s);
    TGenerationRun run(*FContext);
    QCOMPARE(run.GetFBConnectString(), expected);
  }

  void generatesPacketFromSample_data() {
    AddKindRows();
  }
  void generatesPacketFromSample() {
    QFETCH(int, kind);
    REQUIRE_KIND(kind);
    const QString target = Target(kind, kSampleName);
    Prepare(SourceSettings(kind, target, FExportFolder));
    // The chunks go into the archive only: at no progress call of the run
    // does a chunk file stand in the packet folder.
    int progressCalls = 0;
    QStringList chunkFilesSeen;
    FView->OnProgress = [&] {
      ++progressCalls;
      if (!FContext->PacketFolder.isEmpty())
        chunkFilesSeen += QDir(FContext->PacketFolder)
                              .entryList({QStringLiteral("*.xml")}, QDir::Files | QDir::Hidden);
    };
    TGenerationRun run(*FContext);
    const Outcome o = Generate(run);
    QVERIFY2(!o.Threw, qPrintable(o.FullText));
    QCOMPARE(FView->Errors, QStringList());
    QCOMPARE(FView->Notices, QStringList{kSuccess});
    QVERIFY(!Connected(kind));
    QVERIFY(progressCalls > 37);
    QCOMPARE(chunkFilesSeen, QStringList());

    // Only the packet file is left: the folder and the ".tmp" are gone.
    const QString packet = run.LastPacketFile();
    const QString folder = FContext->PacketFolder;
    QVERIFY(folder.startsWith(FExportFolder + QStringLiteral("nompack_") +
                              DataBaseTag(DataBaseTypeFromIndex(kind)) + QLatin1Char('_')));
    QCOMPARE(packet, folder.chopped(1) + DataBasePacketExtension(DataBaseTypeFromIndex(kind)));
    QCOMPARE(ExportFolderEntries(),
             (QStringList{QFileInfo(packet).fileName(), QFileInfo(packet).fileName() + ".log"}));

    const QString unpacked = FTemp.path() + QStringLiteral("/unpacked/");
    QVERIFY(UnpackWithBsdtar(packet, unpacked));
    QCOMPARE(QDir(unpacked).entryList(QDir::Dirs | QDir::NoDotAndDotDot), QStringList());
    QFile descr(unpacked + QStringLiteral("tables.descr"));
    QVERIFY(descr.open(QIODevice::ReadOnly));
    QCOMPARE(descr.readAll(), QStringLiteral("{2.1.0.15}\r\n%1\r\n")
                                  .arg(PacketLayout::PacketTables().join(QStringLiteral("\r\n")))
                                  .toLatin1());

    // Every table: chunks of 50 with a shorter last one, the source's rows.
    auto con = Connect(kind, target);
    int chunkFiles = 0;
    for (const QString& table : PacketLayout::PacketTables()) {
      const QList<int> counts = ChunkRowCounts(unpacked, table);
      const int source = SourceCount(*con, table);
      QList<int> expected;
      for (int left = source; left > 0; left -= 50) expected.append(std::min(left, 50));
      QVERIFY2(counts == expected, qPrintable(table));
      QCOMPARE(ChunkRows(unpacked, table), SourceRows(*con, table));
      chunkFiles += counts.size();
    }
    // The descriptor, the chunks and the manifest, which vouches for them all.
    QCOMPARE(FilesIn(unpacked).size(), chunkFiles + 2);
    const TPacketManifest manifest =
        TPacketManifest::LoadFromFile(unpacked + TPacketManifest::kFileName);
    QCOMPARE(manifest.Chunks.size(), chunkFiles);
    QCOMPARE(manifest.Find(QStringLiteral("ARTICLE[3].xml"))->Rows, 20);
    const QString manifestError =
        PacketManifestError(unpacked, PacketLayout::PacketTables(), manifest);
    QVERIFY2(manifestError.isEmpty(), qPrintable(manifestError));
    // The export records each chunk as it writes it: the same manifest,
    // byte for byte, as reading every chunk back gives.
    const auto fileBytes = [](const QString& path) {
      QFile file(path);
      return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray("<missing>");
    };
    const QByteArray recorded = fileBytes(unpacked + TPacketManifest::kFileName);
    WritePacketManifest(unpacked, PacketLayout::PacketTables());
    QCOMPARE(fileBytes(unpacked + TPacketManifest::kFileName), recorded);
    QCOMPARE(ChunkRowCounts(unpacked, QStringLiteral("ARTICLE")), (QList<int>{50, 50, 20}));
    QCOMPARE(ChunkRowCounts(unpacked, QStringLiteral("PRODUCER")), (QList<int>{50, 50}));
    QCOMPARE(ChunkFiles(unpacked, QStringLiteral("N_AD_PRICE_SOURCE")), QStringList());
    QCOMPARE(ChunkFiles(unpacked, QStringLiteral("N_ORDER_TYPE")), QStringList());

    // Bulgarian text and NULLs, read from the chunk file itself.
    TClientDataSet article;
    article.LoadFromFile(unpacked + QStringLiteral("ARTICLE[1].xml"));
    const int name = article.FieldIndex(QStringLiteral("NAME"));
    bool cyrillic = false, nulls = false;
    for (const auto& row : article.Rows()) {
      for (const QChar c : row.at(name).ToString())
        cyrillic |= c >= QChar(0x410) && c <= QChar(0x44F);
      for (const Variant& v : row) nulls |= v.IsNull();
    }
    QVERIFY(cyrillic);
    QVERIFY(nulls);

    // Progress: one main call per table, the table bar after every chunk.
    const auto mains = FView->CallsOf(QStringLiteral("main"));
    QCOMPARE(mains.size(), 38);
    for (int n = 1; n <= 37; ++n) {
      QCOMPARE(mains.at(n - 1).Text, PacketLayout::PacketTables().at(n - 1));
      QCOMPARE(mains.at(n - 1).Done, n);
      QCOMPARE(mains.at(n - 1).Total, 37);
    }
    QCOMPARE(ProgressPosition(mains.first().Done, mains.first().Total), 2);
    QCOMPARE(ProgressPosition(mains.at(36).Done, mains.at(36).Total), 100);
    QList<QPair<int, int>> articleBar;
    bool inArticle = false;
    for (const auto& call : FView->Calls) {
      if (call.Kind == QLatin1String("main")) inArticle = call.Text == QLatin1String("ARTICLE");
      if (inArticle && call.Kind == QLatin1String("table"))
        articleBar.append({call.Done, call.Total});
    }
    QCOMPARE(articleBar, (QList<QPair<int, int>>{{50, 120}, {100, 120}, {120, 120}}));
    VerifyReset();
    QCOMPARE(FView->MainCaption, QStringLiteral("..."));

    // The summary follows the answered notice: the packet, its size, the
    // source's rows per table, their total and the time.
    int noticeAt = -1;
    for (int i = 0; i < FView->Calls.size(); ++i)
      if (FView->Calls[i].Kind == QLatin1String("notice")) noticeAt = i;
    QVERIFY(noticeAt >= 0);
    QStringList after;
    for (int i = noticeAt + 1; i < FView->Calls.size(); ++i)
      if (FView->Calls[i].Kind == QLatin1String("log")) after.append(FView->Calls[i].Text);
    QCOMPARE(FView->Log, after);
    QStringList expectedSummary{
        QStringLiteral("Пакетът е записан във файла: ") + QFileInfo(packet).absoluteFilePath(),
        QStringLiteral("Размер на пакета: %1 байта").arg(QFileInfo(packet).size()),
        QStringLiteral("Редове по таблици:")};
    qint64 sourceRows = 0;
    for (const QString& table : PacketLayout::PacketTables()) {
      const int rows = SourceCount(*con, table);
      expectedSummary.append(QStringLiteral("  %1: %2").arg(table).arg(rows));
      sourceRows += rows;
    }
    expectedSummary.append(QStringLiteral("Общо редове: %1 в 37 таблици").arg(sourceRows));
    QCOMPARE(FView->Log.mid(0, FView->Log.size() - 1), expectedSummary);
    QVERIFY2(QRegularExpression(QStringLiteral("^Продължителност: \\d+:[0-5]\\d:[0-5]\\d$"))
                 .match(FView->Log.last())
                 .hasMatch(),
             qPrintable(FView->Log.last()));

    // The saved log: a header, the notice and the summary, in UTF-8.
    const QStringList saved = SavedLogLines(packet + QStringLiteral(".log"));
    QVERIFY(!saved.isEmpty());
    QVERIFY2(saved.first().startsWith(kLogHeader), qPrintable(saved.first()));
    QCOMPARE(saved.mid(1), QStringList{kSuccess} + FView->Log);
  }

  void firebirdParcelRepair() {
    REQUIRE_KIND(int(kFireBird));
    const QString target = Target(kFireBird, QStringLiteral("nompack_gen_parcel"));
    QString error = CreateSample(kFireBird, target);
    QVERIFY2(error.isEmpty(), qPrintable(error));
    QList<int> early;
    int id1800 = 0;
    {
      auto con = Connect(kFireBird, target);
      auto ds = con->Open(QStringLiteral(
          "SELECT ID, EXPIRY_DATE FROM PARCEL WHERE EXPIRY_DATE < '30.12.1899' ORDER BY ID"));
      for (const auto& row : ds->Rows()) {
        early.append(row.at(0).ToInt32());
        if (DateTimeConv::ToQDateTime(row.at(1).ToDateTime()).date() == QDate(1800, 1, 1))
          id1800 = row.at(0).ToInt32();
      }
    }
    QVERIFY(early.size() >= 2);
    QVERIFY(id1800 != 0);

    Prepare(SourceSettings(kFireBird, target, FExportFolder));
    TGenerationRun run(*FContext);
    const Outcome o = Generate(run);
    QVERIFY2(!o.Threw, qPrintable(o.FullText));
    QCOMPARE(FView->Notices, QStringList{kSuccess});

    auto con = Connect(kFireBird, target);
    QCOMPARE(SourceCount(*con, QStringLiteral("PARCEL WHERE EXPIRY_DATE < '30.12.1899'")), 0);
    for (int id : early) {
      auto ds = con->Open(QStringLiteral("SELECT EXPIRY_DATE FROM PARCEL WHERE ID = %1").arg(id));
      QCOMPARE(DateTimeConv::ToQDateTime(ds->Value(0).ToDateTime()).date(), QDate(1899, 12, 30));
    }
    const QString unpacked = FTemp.path() + QStringLiteral("/parcel/");
    QVERIFY(UnpackWithBsdtar(run.LastPacketFile(), unpacked));
    bool found = false;
    for (const QString& file : ChunkFiles(unpacked, QStringLiteral("PARCEL"))) {
      TClientDataSet ds;
      ds.LoadFromFile(unpacked + file);
      for (const auto& row : ds.Rows()) {
        if (row.at(ds.FieldIndex(QStringLiteral("ID"))).ToInt32() != id1800) continue;
        found = true;
        QCOMPARE(row.at(ds.FieldIndex(QStringLiteral("EXPIRY_DATE"))).ToDateTime(), TDateTime(0));
      }
    }
    QVERIFY(found);
  }

  void connectionFailures_data() {
    QTest::addColumn<int>("kind");
    QTest::addColumn<QString>("field");
    QTest::addColumn<QString>("value");
    QTest::addColumn<QString>("expected");  // the whole text, or a part of it after "~"
    QTest::newRow("mysql wrong host") << int(kMySQL) << "host"
                                      << "127.0.0.2"
                                      << "~127.0.0.2";
    QTest::newRow("mysql wrong password") << int(kMySQL) << "password"
                                          << "not the password"
                                          << "~Access denied for user 'root'";
    QTest::newRow("mysql missing database") << int(kMySQL) << "database"
                                            << "nompack_no_such_db"
                                            << "~nompack_no_such_db";
    QTest::newRow("firebird wrong host") << int(kFireBird) << "fbhost"
                                         << "127.0.0.2"
                                         << "~Грешка при свързването!\n";
    QTest::newRow("firebird missing database") << int(kFireBird) << "fbpath"
                                               << "/tmp/nompack-fb/nompack_no_such_db.fdb"
                                               << "~Грешка при свързването!\n";
    QTest::newRow("odbc missing database") << int(kODBC) << "database"
                                           << "/nonexistent folder/none.sqlite"
                                           << "~connect failed";
  }
  void connectionFailures() {
    QFETCH(int, kind);
    QFETCH(QString, field);
    QFETCH(QString, value);
    QFETCH(QString, expected);
    REQUIRE_KIND(kind);
    TRunSettings s = SourceSettings(kind, Target(kind, kSampleName), FExportFolder);
    if (field == QLatin1String("host")) s.DBHost = value;
    if (field == QLatin1String("password")) s.Password = value;
    if (field == QLatin1String("database")) s.DBName = value;
    if (field == QLatin1String("fbhost")) s.FBDBHost = value;
    if (field == QLatin1String("fbpath")) s.FBDBFullPath = value;
    Prepare(s);
    TGenerationRun run(*FContext);
    const Outcome o = Generate(run);
    QVERIFY2(!o.Threw, qPrintable(o.FullText));
    QCOMPARE(FView->Errors.size(), 1);
    if (expected.startsWith(QLatin1Char('~')))
      QVERIFY2(FView->Errors.first().contains(expected.mid(1)), qPrintable(FView->Errors.first()));
    else
      QCOMPARE(FView->Errors.first(), expected);
    QCOMPARE(FView->Notices, QStringList());
    QVERIFY(run.LastPacketFile().isEmpty());
    QVERIFY(!Connected(kind));
    // The empty packet folder stays beside the log named after the packet
    // the run would have made; nothing else is made.
    const QStringList entries = ExportFolderEntries();
    const QString packet =
        FContext->PacketFolder.chopped(1) + DataBasePacketExtension(DataBaseTypeFromIndex(kind));
    QCOMPARE(entries, (QStringList{QDir(FContext->PacketFolder).dirName(),
                                   QFileInfo(packet).fileName() + QStringLiteral(".log")}));
    QVERIFY(QFileInfo(FContext->PacketFolder).isDir());
    QCOMPARE(QDir(FContext->PacketFolder).entryList(QDir::AllEntries | QDir::NoDotAndDotDot),
             QStringList());
    VerifyReset();
    // The log holds the error box and no summary.
    QCOMPARE(FView->Log, QStringList());
    const QStringList saved = SavedLogLines(packet + QStringLiteral(".log"));
    QVERIFY(!saved.isEmpty());
    QVERIFY2(saved.first().startsWith(kLogHeader), qPrintable(saved.first()));
    // An error of several lines (the connection's reason under its message)
    // stands in the file as it was shown.
    QCOMPARE(saved.mid(1).join(QLatin1Char('\n')),
             QStringLiteral("Грешка: ") + FView->Errors.first());
  }

  // A source without one of the 37 tables: the error propagates, naming it;
  // what was written stays in the packet folder; no packet; the connection
  // is closed. On Firebird the PARCEL repair stays done all the same.
  void sourceWithoutATable_data() {
    AddKindRows();
  }
  void sourceWithoutATable() {
    QFETCH(int, kind);
    REQUIRE_KIND(kind);
    const QString target = Target(kind, QStringLiteral("nompack_gen_missing"));
    QString error = CreateSample(kind, target);
    QVERIFY2(error.isEmpty(), qPrintable(error));
    {
      auto con = Connect(kind, target);
      con->Execute(QStringLiteral("DROP TABLE VTR_ENV_VARS"));
      if (con->SupportsTransactions()) con->Commit();
    }
    Prepare(SourceSettings(kind, target, FExportFolder));
    TGenerationRun run(*FContext);
    const Outcome o = Generate(run);
    QVERIFY(o.Threw);
    QVERIFY2(o.Message.contains(QStringLiteral("VTR_ENV_VARS"), Qt::CaseInsensitive),
             qPrintable(o.FullText));
    QVERIFY2(o.FullText.contains(QStringLiteral("counting the rows of VTR_ENV_VARS")),
             qPrintable(o.FullText));
    QCOMPARE(FView->Errors, QStringList());
    QCOMPARE(FView->Notices, QStringList());
    QVERIFY(run.LastPacketFile().isEmpty());
    QVERIFY(!Connected(kind));
    VerifyReset();

    // The log beside the folder holds the error the front end shows and where
    // it happened.
    const QString folder = FContext->PacketFolder;
    const QString log =
        folder.chopped(1) + DataBasePacketExtension(DataBaseTypeFromIndex(kind)) + ".log";
    const QStringList saved = SavedLogLines(log);
    QVERIFY(!saved.isEmpty());
    const QString text = saved.mid(1).join(QLatin1Char('\n'));
    QVERIFY2(text.startsWith(QStringLiteral("Грешка: ") +
                             TopLevelErrorText(o.Message).replace(QStringLiteral("\r\n"), "\n")),
             qPrintable(text));
    QVERIFY2(text.contains(QStringLiteral("counting the rows of VTR_ENV_VARS")), qPrintable(text));
    QCOMPARE(FView->Log, QStringList());

    // The folder holds the descriptor and the complete chunks of tables 1 to 35.
    QCOMPARE(ExportFolderEntries(),
             (QStringList{QDir(folder).dirName(), QFileInfo(log).fileName()}));
    auto con = Connect(kind, target);
    QStringList expected{QStringLiteral("tables.descr")};
    for (const QString& table : PacketLayout::PacketTables().mid(0, 35)) {
      const int rows = SourceCount(*con, table);
      for (int i = 1; i <= (rows + 49) / 50; ++i)
        expected.append(PacketLayout::ChunkFileName(table, i));
      QCOMPARE(ChunkRows(folder, table), SourceRows(*con, table));
    }
    expected.sort();
    QCOMPARE(FilesIn(folder), expected);
    if (kind == kFireBird)
      QCOMPARE(SourceCount(*con, QStringLiteral("PARCEL WHERE EXPIRY_DATE < '30.12.1899'")), 0);

    // Byte for byte what an export that writes its own files leaves (the
    // rar program packs there): the chunks came back out of the archive.
    const QString streamed = FTemp.path() + QStringLiteral("/streamed %1/").arg(kind);
    QVERIFY(QDir().rename(folder.chopped(1), streamed.chopped(1)));
    const QString program = FTemp.path() + QStringLiteral("/failing rar/");
    InstallFailingRar(program);
    Prepare(SourceSettings(kind, target, FExportFolder), program);
    TGenerationRun plain(*FContext);
    QVERIFY(Generate(plain).Threw);
    const QString written = FContext->PacketFolder;
    QCOMPARE(FilesIn(streamed), FilesIn(written));
    for (const QString& file : FilesIn(written)) {
      QFile a(streamed + file), b(written + file);
      QVERIFY(a.open(QIODevice::ReadOnly) && b.open(QIODevice::ReadOnly));
      QVERIFY2(a.readAll() == b.readAll(), qPrintable(file));
    }
  }

  void unwritableExportFolder_data() {
    AddKindRows();
  }
  void unwritableExportFolder() {
    QFETCH(int, kind);
    REQUIRE_KIND(kind);
    // A file where the export folder should be: no packet folder can be made.
    const QString blocker = FExportFolder + QStringLiteral("not a folder");
    QFile f(blocker);
    QVERIFY(f.open(QIODevice::WriteOnly));
    f.close();
    Prepare(SourceSettings(kind, Target(kind, kSampleName), blocker));
    TGenerationRun run(*FContext);
    const Outcome o = Generate(run);
    QVERIFY(o.Threw);
    QVERIFY2(o.Message.contains(QStringLiteral("tables.descr")), qPrintable(o.FullText));
    QCOMPARE(FView->Notices, QStringList());
    QVERIFY(run.LastPacketFile().isEmpty());
    QVERIFY(!Connected(kind));
    QCOMPARE(ExportFolderEntries(), QStringList{QStringLiteral("not a folder")});
    VerifyReset();
    // Nor can the log be written there, and the log window says so.
    const QString log = FContext->PacketFolder.chopped(1) +
                        DataBasePacketExtension(DataBaseTypeFromIndex(kind)) + ".log";
    QCOMPARE(FView->Log.size(), 1);
    QVERIFY2(FView->Log.first().startsWith(kLogNotWritten.arg(log)),
             qPrintable(FView->Log.first()));
  }

  // A chunk file that cannot be written (a folder holds its name) by an
  // export that writes its own files (the rar program packs): the run ends
  // with that chunk's error after the export's write attempts, named as the
  // export names it; the folder keeps the descriptor and every chunk before
  // it; no archive of the run is left.
  void chunkFileThatCannotBeWritten_data() {
    AddKindRows();
  }
  void chunkFileThatCannotBeWritten() {
    QFETCH(int, kind);
    REQUIRE_KIND(kind);
    const QString tag = DataBaseTag(DataBaseTypeFromIndex(kind));
    // The packet folders of the next seconds, whichever the run picks.
    const QDateTime now = QDateTime::currentDateTime();
    for (int s = 0; s < 30; ++s)
      QVERIFY(QDir().mkpath(FExportFolder + PacketLayout::BuildPacketName(tag, now.addSecs(s)) +
                            QStringLiteral("/ARTICLE[2].xml")));
    const QString program = FTemp.path() + QStringLiteral("/failing rar/");
    InstallFailingRar(program);
    Prepare(SourceSettings(kind, Target(kind, kSampleName), FExportFolder), program);
    const int threads = ThreadCount();
    TGenerationRun run(*FContext);
    const Outcome o = Generate(run);
    QVERIFY(o.Threw);
    const QString folder = FContext->PacketFolder;
    QVERIFY2(
        o.Message.startsWith(QStringLiteral("Cannot create file \"%1ARTICLE[2].xml\"").arg(folder)),
        qPrintable(o.FullText));
    QVERIFY2(o.FullText.contains(QStringLiteral("exporting ARTICLE, chunk 2")),
             qPrintable(o.FullText));
    QVERIFY2(!o.FullText.contains(QStringLiteral("chunk 3")), qPrintable(o.FullText));
    QCOMPARE(FView->Notices, QStringList());
    QVERIFY(run.LastPacketFile().isEmpty());
    QVERIFY(!Connected(kind));
    QCOMPARE(ThreadCount(), threads);
    VerifyReset();
    for (const QString& entry : ExportFolderEntries())
      QVERIFY2(!entry.endsWith(QStringLiteral(".tmp")), qPrintable(entry));

    auto con = Connect(kind, Target(kind, kSampleName));
    QStringList expected{QStringLiteral("tables.descr"), QStringLiteral("ARTICLE[1].xml")};
    const QStringList tables = PacketLayout::PacketTables();
    for (const QString& table : tables.mid(0, tables.indexOf(QStringLiteral("ARTICLE")))) {
      for (int i = 1; i <= (SourceCount(*con, table) + 49) / 50; ++i)
        expected.append(PacketLayout::ChunkFileName(table, i));
      QCOMPARE(ChunkRows(folder, table), SourceRows(*con, table));
    }
    expected.sort();
    QCOMPARE(FilesIn(folder), expected);
    QCOMPARE(ChunkRowCounts(folder, QStringLiteral("ARTICLE")), QList<int>{50});
  }

  // The export fails at table 36 and a chunk made earlier cannot become a
  // file again (a folder holds its name): the error says so and where the
  // export is; the archive stays, holding every chunk; the folder holds the
  // descriptor and every other chunk.
  void chunkThatCannotBeKeptAfterAFailure() {
    REQUIRE_KIND(int(kMySQL));
    const QString target = Target(kMySQL, QStringLiteral("nompack_gen_missing"));
    QString error = CreateSample(kMySQL, target);
    QVERIFY2(error.isEmpty(), qPrintable(error));
    {
      auto con = Connect(kMySQL, target);
      con->Execute(QStringLiteral("DROP TABLE VTR_ENV_VARS"));
    }
    const QDateTime now = QDateTime::currentDateTime();
    for (int s = 0; s < 30; ++s)
      QVERIFY(QDir().mkpath(
          FExportFolder +
          PacketLayout::BuildPacketName(DataBaseTag(DataBaseType::MySQL), now.addSecs(s)) +
          QStringLiteral("/ARTICLE[2].xml")));
    Prepare(SourceSettings(kMySQL, target, FExportFolder));
    TGenerationRun run(*FContext);
    const Outcome o = Generate(run);
    QVERIFY(o.Threw);
    const QString folder = FContext->PacketFolder;
    const QString tmp = folder.chopped(1) + QStringLiteral(".rar.tmp");
    QVERIFY2(o.Message.contains(QStringLiteral("VTR_ENV_VARS"), Qt::CaseInsensitive),
             qPrintable(o.FullText));
    QVERIFY2(o.Message.contains(QStringLiteral("ARTICLE[2].xml")) && o.Message.contains(tmp),
             qPrintable(o.FullText));
    QVERIFY(run.LastPacketFile().isEmpty());

    auto con = Connect(kMySQL, target);
    QStringList expected{QStringLiteral("tables.descr")};
    for (const QString& table : PacketLayout::PacketTables().mid(0, 35))
      for (int i = 1; i <= (SourceCount(*con, table) + 49) / 50; ++i)
        expected.append(PacketLayout::ChunkFileName(table, i));
    QMap<QString, qint64> stored;
    QVERIFY2(TArchiver::ListArchive(tmp, stored, error), qPrintable(error));
    QStringList inArchive = stored.keys();
    expected.sort();
    QCOMPARE(inArchive, expected);
    expected.removeOne(QStringLiteral("ARTICLE[2].xml"));
    QCOMPARE(FilesIn(folder), expected);
    QCOMPARE(ChunkRowCounts(folder, QStringLiteral("ARTICLE")).first(), 50);
  }

  // A file that lands in the packet folder while the export runs is packed
  // with the rest: the folder is given up whole, never with a file lost.
  void fileAddedDuringTheExportIsPacked() {
    REQUIRE_KIND(int(kMySQL));
    auto view = std::make_unique<ReenteringView>();
    ReenteringView* raw = view.get();
    Prepare(SourceSettings(kMySQL, Target(kMySQL, kSampleName), FExportFolder), QString(),
            std::move(view));
    const QByteArray note("left by the technician");
    raw->OnTable = [&] {
      const QString path = FContext->PacketFolder + QStringLiteral("notes.txt");
      if (QFile::exists(path)) return;
      QFile f(path);
      if (f.open(QIODevice::WriteOnly)) f.write(note);
    };
    TGenerationRun run(*FContext);
    const Outcome o = Generate(run);
    QVERIFY2(!o.Threw, qPrintable(o.FullText));
    QCOMPARE(FView->Errors, QStringList());
    QCOMPARE(FView->Notices, QStringList{kSuccess});
    const QString packet = run.LastPacketFile();
    QCOMPARE(ExportFolderEntries(),
             (QStringList{QFileInfo(packet).fileName(), QFileInfo(packet).fileName() + ".log"}));
    const QString unpacked = FTemp.path() + QStringLiteral("/with notes/");
    QVERIFY(UnpackWithBsdtar(packet, unpacked));
    QFile f(unpacked + QStringLiteral("notes.txt"));
    QVERIFY(f.open(QIODevice::ReadOnly));
    QCOMPARE(f.readAll(), note);
    QVERIFY(QFile::exists(unpacked + TPacketManifest::kFileName));
    QVERIFY(QFile::exists(unpacked + QStringLiteral("ARTICLE[3].xml")));
  }

  // The archiver failed: the packet folder is the only copy of the export,
  // so it stays, and the run says so instead of reporting success.
  void archiverFailureKeepsThePacketFolder() {
    REQUIRE_KIND(int(kMySQL));
    const QString program = FTemp.path() + QStringLiteral("/failing rar/");
    InstallFailingRar(program);
    Prepare(SourceSettings(kMySQL, Target(kMySQL, kSampleName), FExportFolder), program);
    TGenerationRun run(*FContext);
    const Outcome o = Generate(run);
    QVERIFY2(!o.Threw, qPrintable(o.FullText));
    QCOMPARE(FView->Notices, QStringList());
    QCOMPARE(FView->Errors.size(), 1);
    const QString folder = FContext->PacketFolder;
    QVERIFY2(FView->Errors.first().contains(folder), qPrintable(FView->Errors.first()));
    QVERIFY2(FView->Errors.first().contains(QStringLiteral("out of disk space")),
             qPrintable(FView->Errors.first()));
    QVERIFY(run.LastPacketFile().isEmpty());
    QCOMPARE(ExportFolderEntries(),
             (QStringList{QDir(folder).dirName(), QDir(folder).dirName() + ".mpd.log"}));
    // The error's text in full, its line break kept.
    QCOMPARE(SavedLogLines(folder.chopped(1) + ".mpd.log").mid(1),
             (QStringLiteral("Грешка: ") + FView->Errors.first()).split(QLatin1Char('\n')));
    auto con = Connect(kMySQL, Target(kMySQL, kSampleName));
    for (const QString& table : PacketLayout::PacketTables())
      QCOMPARE(ChunkRows(folder, table), SourceRows(*con, table));
    QVERIFY(QFile::exists(folder + QStringLiteral("tables.descr")));
    VerifyReset();
  }

  // A packet file of the final name exists already (two runs in the same
  // second): it is not replaced, the new packet keeps its ".tmp" name, and
  // the run says so naming both.
  void existingPacketFileIsNotReplaced() {
    REQUIRE_KIND(int(kMySQL));
    // Occupy the names of the next seconds, whichever the run picks.
    const QDateTime now = QDateTime::currentDateTime();
    for (int s = 0; s < 30; ++s) {
      QFile f(FExportFolder +
              PacketLayout::BuildPacketName(QStringLiteral("mydb"), now.addSecs(s)) +
              QStringLiteral(".mpd"));
      QVERIFY(f.open(QIODevice::WriteOnly));
      f.write("an earlier packet");
    }
    Prepare(SourceSettings(kMySQL, Target(kMySQL, kSampleName), FExportFolder));
    TGenerationRun run(*FContext);
    const Outcome o = Generate(run);
    QVERIFY2(!o.Threw, qPrintable(o.FullText));
    QCOMPARE(FView->Notices, QStringList());
    QVERIFY(run.LastPacketFile().isEmpty());
    const QString archive = FContext->PacketFolder.chopped(1) + QStringLiteral(".rar");
    const QString packet = FContext->PacketFolder.chopped(1) + QStringLiteral(".mpd");
    QCOMPARE(FView->Errors.size(), 1);
    QVERIFY2(FView->Errors.first().contains(packet) &&
                 FView->Errors.first().contains(archive + QStringLiteral(".tmp")),
             qPrintable(FView->Errors.first()));
    QFile old(packet);
    QVERIFY(old.open(QIODevice::ReadOnly));
    QCOMPARE(old.readAll(), QByteArray("an earlier packet"));
    // The new packet is whole under its ".tmp" name.
    QMap<QString, qint64> entries;
    QString error;
    QVERIFY2(TArchiver::ListArchive(archive + QStringLiteral(".tmp"), entries, error),
             qPrintable(error));
    QVERIFY(entries.contains(QStringLiteral("tables.descr")));
    QVERIFY(entries.contains(QStringLiteral("ARTICLE[3].xml")));
    VerifyReset();
  }

  // Step 2 closes only the connection of the run's own kind.
  void closesOnlyItsOwnConnectionFirst() {
    REQUIRE_KIND(int(kMySQL));
    REQUIRE_KIND(int(kODBC));
    Prepare(SourceSettings(kMySQL, Target(kMySQL, kSampleName), FExportFolder));
    QString error;
    QVERIFY(FDM->MySQLConnect(QStringLiteral("127.0.0.1"), Target(kMySQL, kSampleName),
                              QStringLiteral("root"), QString(), error));
    TGenerationRun run(*FContext);
    Outcome o = Generate(run);
    QVERIFY2(!o.Threw, qPrintable(o.FullText));
    QCOMPARE(FView->Notices, QStringList{kSuccess});
    QVERIFY(!FDM->MySQLIsConnected());

    QVERIFY(FDM->MySQLConnect(QStringLiteral("127.0.0.1"), Target(kMySQL, kSampleName),
                              QStringLiteral("root"), QString(), error));
    FSettings = SourceSettings(kODBC, Target(kODBC, kSampleName), FExportFolder);
    o = Generate(run);
    QVERIFY2(!o.Threw, qPrintable(o.FullText));
    QCOMPARE(FView->Notices.size(), 2);
    QVERIFY(FDM->MySQLIsConnected());
    QVERIFY(!FDM->MSSQLIsConnected());
  }

  // The progress calls let events run; a second press meanwhile starts nothing.
  void secondPressDuringARunIsIgnored() {
    REQUIRE_KIND(int(kMySQL));
    auto view = std::make_unique<ReenteringView>();
    ReenteringView* raw = view.get();
    Prepare(SourceSettings(kMySQL, Target(kMySQL, kSampleName), FExportFolder), QString(),
            std::move(view));
    TGenerationRun run(*FContext);
    int presses = 0;
    raw->OnTable = [&] {
      if (presses++ < 3) run.GenerateExport();
    };
    const Outcome o = Generate(run);
    QVERIFY2(!o.Threw, qPrintable(o.FullText));
    QVERIFY(presses >= 3);
    QCOMPARE(FView->Notices, QStringList{kSuccess});
    QCOMPARE(FView->CallsOf(QStringLiteral("main")).size(), 38);
    QCOMPARE(ExportFolderEntries(),
             (QStringList{QFileInfo(run.LastPacketFile()).fileName(),
                          QFileInfo(run.LastPacketFile()).fileName() + QStringLiteral(".log")}));
  }

  // A stop asked after a chunk or before a table ends the export there: the
  // connection is closed, the begun packet (folder, descriptor, chunks) is
  // removed, no packet file and no success notice; the log and the box say
  // what was done.
  void stopRemovesTheUnfinishedPacket_data() {
    QTest::addColumn<int>("kind");
    QTest::addColumn<QString>("table");
    QTest::addColumn<int>("rows");
    for (int kind : {int(kMySQL), int(kFireBird), int(kODBC)}) {
      const QByteArray name = KindName(kind).toLatin1();
      QTest::newRow(name + " after a chunk") << kind << "ARTICLE" << 50;
      QTest::newRow(name + " before a table") << kind << "ARTICLE" << 0;
      QTest::newRow(name + " before the last table")
          << kind << PacketLayout::PacketTables().last() << 0;
    }
  }
  void stopRemovesTheUnfinishedPacket() {
    QFETCH(int, kind);
    QFETCH(QString, table);
    QFETCH(int, rows);
    REQUIRE_KIND(kind);
    auto view = std::make_unique<StoppingView>();
    StoppingView* raw = view.get();
    raw->StopInTable = table;
    raw->StopAtRows = rows;
    Prepare(SourceSettings(kind, Target(kind, kSampleName), FExportFolder), QString(),
            std::move(view));
    TGenerationRun run(*FContext);
    const Outcome o = Generate(run);
    QVERIFY2(!o.Threw, qPrintable(o.FullText));
    QVERIFY(raw->CallsAtStop > 0);
    QCOMPARE(FView->Notices, QStringList());
    QCOMPARE(FView->Errors,
             QStringList{QStringLiteral("Процесът е прекъснат от потребителя.\r\n") + kStopped});
    QCOMPARE(FView->Log, QStringList{kStopped});
    QVERIFY(run.LastPacketFile().isEmpty());
    QVERIFY(!Connected(kind));
    // Only the run's log is left beside where the packet would be.
    const QString packet =
        FContext->PacketFolder.chopped(1) + DataBasePacketExtension(DataBaseTypeFromIndex(kind));
    QCOMPARE(ExportFolderEntries(), QStringList{QFileInfo(packet).fileName() + ".log"});
    // Stopped at once: after the asking call only the log line, the box and
    // the progress reset.
    const QList<RecorderView::Call> after = FView->Calls.mid(raw->CallsAtStop);
    QStringList kinds;
    for (const auto& call : after) kinds.append(call.Kind);
    QCOMPARE(kinds, (QStringList{"log", "error", "main", "table"}));
    VerifyReset();
    const QStringList saved = SavedLogLines(packet + QStringLiteral(".log"));
    QVERIFY(!saved.isEmpty());
    QCOMPARE(saved.mid(1),
             (QStringList{kStopped, "Грешка: Процесът е прекъснат от потребителя.", kStopped}));
  }

  // A signal that comes while the archiver runs (the command line's Ctrl+C
  // reaches the archiver too): the archive it began and the folder go.
  void stopDuringPackingRemovesTheArchive() {
    REQUIRE_KIND(int(kMySQL));
    const QString program = FTemp.path() + QStringLiteral("/stopping rar/");
    // Its 5th argument is the archive; the signal goes to the test.
    InstallRar(program,
               "#!/bin/sh\nprintf 'part of an archive' > \"$5\"\nkill -USR1 $PPID\nsleep 0.2\n");
    Prepare(SourceSettings(kMySQL, Target(kMySQL, kSampleName), FExportFolder), program);
    SignalStopFlag = &FView->StopFlag();
    struct sigaction action {
    }, previous{};
    action.sa_handler = StopOnSignal;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    sigaction(SIGUSR1, &action, &previous);
    TGenerationRun run(*FContext);
    const Outcome o = Generate(run);
    sigaction(SIGUSR1, &previous, nullptr);
    SignalStopFlag = nullptr;
    QVERIFY2(!o.Threw, qPrintable(o.FullText));
    QVERIFY(FView->StopRequested());
    QCOMPARE(FView->Notices, QStringList());
    QCOMPARE(FView->Log, QStringList{kStopped});
    QCOMPARE(ExportFolderEntries(),
             QStringList{QDir(FContext->PacketFolder).dirName() + QStringLiteral(".mpd.log")});
  }

  // A log that cannot be written (a folder holds its name) changes nothing
  // of the run: the packet, the notice and the summary are there, and the
  // log window names the file that was not written.
  void logThatCannotBeWritten() {
    REQUIRE_KIND(int(kMySQL));
    const QDateTime now = QDateTime::currentDateTime();
    for (int s = 0; s < 30; ++s)
      QVERIFY(QDir().mkpath(FExportFolder +
                            PacketLayout::BuildPacketName(QStringLiteral("mydb"), now.addSecs(s)) +
                            QStringLiteral(".mpd.log")));
    Prepare(SourceSettings(kMySQL, Target(kMySQL, kSampleName), FExportFolder));
    TGenerationRun run(*FContext);
    const Outcome o = Generate(run);
    QVERIFY2(!o.Threw, qPrintable(o.FullText));
    QCOMPARE(FView->Errors, QStringList());
    QCOMPARE(FView->Notices, QStringList{kSuccess});
    const QString packet = run.LastPacketFile();
    QVERIFY(QFileInfo(packet).isFile());
    QVERIFY(QFileInfo(packet + QStringLiteral(".log")).isDir());
    QCOMPARE(FView->Log.size(), 43);  // the summary of 42 lines, then the failure
    QCOMPARE(FView->Log.first(), QStringLiteral("Пакетът е записан във файла: ") +
                                     QFileInfo(packet).absoluteFilePath());
    QVERIFY2(FView->Log.last().startsWith(kLogNotWritten.arg(packet + QStringLiteral(".log"))),
             qPrintable(FView->Log.last()));
  }
};

QTEST_GUILESS_MAIN(TestGeneration)
#include "test_generation.moc"
