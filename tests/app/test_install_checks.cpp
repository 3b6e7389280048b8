// Packets that must not change a target, tried against a MySQL and a
// Firebird pharmacy made by the sample script (the 37 tables, documents,
// replica tables and a table of the pharmacy's own): the run shows one error
// box before its first stage line, and a dump of every table and identity
// counter afterwards equals the dump before.
#include <QDirIterator>
#include <QProcess>
#include <QTemporaryDir>
#include <QtTest>
#include <functional>

#include "Archiver.h"
#include "DataModule.h"
#include "GenerationRun.h"
#include "InstallRunRig.h"
#include "InstallationRun.h"
#include "LoadTarget.h"
#include "PacketCheck.h"
#include "PacketManifestCheck.h"
#include "RecorderView.h"
#include "test_install_support.h"

using namespace InstallTest;

namespace {

const QString kSourceMySQL = QStringLiteral("nompack_ic_src");
const QString kTargetMySQL = QStringLiteral("nompack_ic_target");
const QString kTargetFB = QStringLiteral("/tmp/nompack-fb/ic_target.fdb");
const QString kPacketName = QStringLiteral("nompack_mydb_20240307-091502");
const QString kOwnTable = QStringLiteral("PHARMACY_NOTES");

QString KindName(int kind) {
  return kind == kMySQL ? "mysql" : "firebird";
}

QString LoadSample(int kind, const QString& target, const QString& role) {
  QProcess p;
  p.setProcessChannelMode(QProcess::MergedChannels);
  p.start("bash", {SourceDir() + "/scripts/sample-db.sh", KindName(kind), target, "--role", role});
  p.waitForFinished(-1);
  if (p.exitStatus() == QProcess::NormalExit && p.exitCode() == 0) return QString();
  return QString::fromUtf8(p.readAll());
}

std::unique_ptr<IConnection> Open(int kind) {
  if (kind == kMySQL) {
    auto con = OpenMySQL(MySQLParams(kTargetMySQL));
    con->Execute("SET NAMES CP1251");
    return con;
  }
  auto con = OpenFirebird("127.0.0.1:" + kTargetFB, FBDpb(), TDM::FBTransactionParams());
  con->StartTransaction();
  return con;
}

// Run on the target through a connection of its own, committed.
void Exec(int kind, const QString& sql) {
  auto con = Open(kind);
  con->Execute(sql);
  if (kind == kFireBird) con->Commit();
}

QStringList Dump(int kind) {
  return DumpDatabase(*Open(kind), kind == kMySQL);
}

struct TRig : TInstallRunRig {
  TRig(int kind, const QString& packet) : TInstallRunRig(kind, packet, kTargetMySQL) {
    Settings.FBDBFullPath = kTargetFB;
  }
};

// Packs the named files of the folder, in that order, into an archive of
// the format bsdtar is given ("zip", "ustar").
bool Pack(const QString& folder, const QStringList& files, const QString& archive,
          const QString& format = "zip") {
  QFile::remove(archive);
  QProcess p;
  p.setWorkingDirectory(folder);
  p.start("bsdtar", QStringList{"--format", format, "-cf", archive} + files);
  p.waitForFinished(-1);
  // A file bsdtar could not add leaves an archive without it: none at all.
  if (p.exitStatus() == QProcess::NormalExit && p.exitCode() == 0) return true;
  QFile::remove(archive);
  return false;
}

QStringList FilesOf(const QString& folder) {
  QStringList files = QDir(folder).entryList(QDir::Files);
  files.sort();
  return files;
}

QStringList DescriptorLines(const QString& folder) {
  return LoadStringList(folder + PacketLayout::kDescriptorFileName);
}

// Rewrites a chunk file through `edit` on its dataset's rows and fields.
void RewriteChunk(
    const QString& path,
    const std::function<void(QVector<TFieldDef>&, QVector<QVector<Variant>>&)>& edit) {
  TClientDataSet in;
  in.LoadFromFile(path);
  QVector<TFieldDef> fields = in.FieldDefs();
  QVector<QVector<Variant>> rows = in.Rows();
  edit(fields, rows);
  TClientDataSet out;
  for (const TFieldDef& f : fields) out.AddFieldDef(f);
  for (const auto& row : rows) out.AppendRow(row);
  out.SaveToFile(path, TDataPacketFormat::SingleByte);
}

QByteArray ReadAll(const QString& path) {
  QFile f(path);
  return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

// Offsets of the ZIP's local file headers, in file order.
QVector<qsizetype> LocalHeaders(const QByteArray& zip) {
  QVector<qsizetype> at;
  for (qsizetype i = zip.indexOf("PK\x03\x04"); i >= 0; i = zip.indexOf("PK\x03\x04", i + 4))
    at.append(i);
  return at;
}

}  // namespace

class TestInstallChecks : public QObject {
  Q_OBJECT

 private slots:
  void initTestCase() {
    NOMPACK_REQUIRE_SERVER(MySQLReachable() && FBReachable(),
                           "MariaDB 127.0.0.1:3306 and Firebird 127.0.0.1:3050");
    QVERIFY(FDir.isValid());
    for (const auto& [kind, target, role] :
         {std::tuple{int(kMySQL), kSourceMySQL, QString("source")},
          std::tuple{int(kMySQL), kTargetMySQL, QString("target")},
          std::tuple{int(kFireBird), kTargetFB, QString("target")}}) {
      const QString error = LoadSample(kind, target, role);
      QVERIFY2(error.isEmpty(), qPrintable(error));
    }
    // A table of the pharmacy's own that no packet may empty.
    for (int kind : {kMySQL, kFireBird}) {
      Exec(kind, QString("CREATE TABLE %1 (ID INTEGER NOT NULL PRIMARY KEY, NOTE VARCHAR(40))")
                     .arg(kOwnTable));
      for (int i = 1; i <= 5; ++i)
        Exec(kind, QString("INSERT INTO %1 VALUES (%2, 'бележка %2')").arg(kOwnTable).arg(i));
    }
    // The generated packet, unpacked once: every case edits a copy.
    RecorderView view;
    TDM dm(view);
    TRunSettings settings;
    settings.DataBaseType = DataBaseType::MySQL;
    settings.DBName = kSourceMySQL;
    settings.ExportFolder = FDir.path() + "/generated";
    QDir().mkpath(settings.ExportFolder);
    QTemporaryDir programDir;
    TRunContext context(
        dm, view, [&] { return settings; }, QString(), programDir.path() + "/");
    TGenerationRun generation(context);
    generation.GenerateExport();
    QVERIFY2(!generation.LastPacketFile().isEmpty(), qPrintable(view.Errors.join('\n')));
    FFiles = FDir.path() + "/files/";
    QString error;
    QVERIFY2(TArchiver(QString()).ExtractPacket(generation.LastPacketFile(), FFiles, error),
             qPrintable(error));
    QVERIFY(QFileInfo::exists(FFiles + TPacketManifest::kFileName));
    // ARTICLE spans three chunks, so one can go missing in the middle.
    QVERIFY(QFileInfo::exists(FFiles + "ARTICLE[3].xml"));
  }

  void cleanupTestCase() {
    if (qEnvironmentVariableIsSet("NOMPACK_KEEP_TEST_DB")) return;
    try {
      for (const QString& db : {kSourceMySQL, kTargetMySQL})
        OpenMySQL(MySQLParams())->Execute("DROP DATABASE IF EXISTS " + db);
      DropFirebirdDatabase("127.0.0.1:" + kTargetFB, FBDpb());
    } catch (const std::exception&) {
    }
  }

  void refusedPackets_data() {
    QTest::addColumn<int>("kind");
    QTest::addColumn<QString>("how");
    QTest::addColumn<QString>("error");
    const QList<QPair<QString, QString>> cases = {
        {"own table in the descriptor", "\"PHARMACY_NOTES\" (ред 39"},
        {"COMPANY_DATA in the descriptor", "\"COMPANY_DATA\""},
        {"monitoring table in the descriptor", "\"MON$ATTACHMENTS\""},
        {"descriptor of only its version line", "не съдържа нито една таблица"},
        {"two descriptors", "съдържа 2 файла \"tables.descr\""},
        {"chunk missing in the middle", "Липсва част 2 на таблица ARTICLE"},
        {"well-formed chunk with fewer rows", "\"ARTICLE[2].xml\""},
        {"zip cut at an entry boundary", "архивът е непълен или повреден"},
        {"tar cut at an entry boundary", "пакетът е непълен"},
        {"SQL in a table name", "Невалидно име на таблица"},
        {"SQL in a column name", "Невалидно име на колона"},
        {"broken XML", "ARTICLE[2].xml\" не може да бъде зареден"},
        {"truncated XML", "отрязан"},
        {"value that does not convert", "стойността \"x10\""},
    };
    for (int kind : {kMySQL, kFireBird}) {
      for (const auto& [how, error] : cases)
        QTest::addRow("%s: %s", kind == kMySQL ? "MySQL" : "Firebird", qPrintable(how))
            << kind << how << error;
    }
    QTest::addRow("Firebird: chunk column the target lacks")
        << int(kFireBird) << "chunk column the target lacks"
        << "Таблицата ARTICLE в базата данни няма колона EXTRA_NOTE, която е във файла "
           "\"ARTICLE[1].xml\"";
  }
  void refusedPackets() {
    QFETCH(int, kind);
    QFETCH(QString, how);
    QFETCH(QString, error);
    ExpectRefused(kind, MakePacket(how), error);
  }

 private:
  QTemporaryDir FDir;
  QString FFiles;
  int FCopies = 0;

  void ExpectRefused(int kind, const QString& packet, const QString& error) {
    QVERIFY(QFileInfo::exists(packet));
    const QStringList before = Dump(kind);
    QVERIFY(before.contains("TABLE " + kOwnTable));

    TRig rig(kind, packet);
    rig.Run.InstallPacket();
    QCOMPARE(rig.View.Errors.size(), 1);
    QVERIFY2(rig.View.Errors[0].contains(error), qPrintable(rig.View.Errors[0]));
    QVERIFY(!rig.Run.LastRunCompleted());
    // Refused before the cleanup's first stage line.
    QCOMPARE(rig.View.Log, QStringList());
    if (rig.DM.FBIsConnected()) rig.DM.FBDisconnect();
    const QString difference = FirstDifference(before, Dump(kind));
    QVERIFY2(difference.isEmpty(), qPrintable(difference));
  }

 private slots:
  // A folder that an extraction left incomplete, reused with Yes, is
  // compared with the packet file and refused; the folder stays as it was.
  void reusedIncompleteFolder_data() {
    QTest::addColumn<int>("kind");
    QTest::addColumn<bool>("manifest");
    QTest::addColumn<QString>("how");
    QTest::addColumn<QString>("error");
    for (int kind : {kMySQL, kFireBird}) {
      const char* k = kind == kMySQL ? "MySQL" : "Firebird";
      for (bool manifest : {true, false}) {
        const char* m = manifest ? "with manifest" : "without manifest";
        QTest::addRow("%s, %s: later tables missing", k, m)
            << kind << manifest << "later files missing"
            << "липсва файлът \"PATIENT[1].xml\"";
        QTest::addRow("%s, %s: last file cut short", k, m)
            << kind << manifest << "last file cut short"
            << "SUPPLIER_CODE[1].xml";
      }
      QTest::addRow("%s: a chunk the packet does not hold", k)
          << kind << false << "extra chunk"
          << "съдържа файл \"ARTICLE[4].xml\", който не е от пакета";
    }
  }
  void reusedIncompleteFolder() {
    QFETCH(int, kind);
    QFETCH(bool, manifest);
    QFETCH(QString, how);
    QFETCH(QString, error);
    const QString packet = MakePacket(manifest ? "as generated" : "without manifest");
    const QString folder = PacketLayout::UnpackFolder(packet);
    QString extractError;
    QVERIFY2(TArchiver(QString()).ExtractPacket(packet, folder, extractError),
             qPrintable(extractError));
    if (how == "later files missing") {
      // Extraction stopped at the first file after PATIENT...: every table
      // from there on has lost its chunks, the manifest too.
      for (const QString& file : FilesOf(folder)) {
        if (file > "PATIENT" && file.compare(PacketLayout::kDescriptorFileName) != 0)
          QVERIFY(QFile::remove(folder + file));
      }
    } else if (how == "last file cut short") {
      const QByteArray whole = ReadAll(folder + "SUPPLIER_CODE[1].xml");
      QFile f(folder + "SUPPLIER_CODE[1].xml");
      QVERIFY(f.resize(whole.size() / 2));
    } else {
      QVERIFY(QFile::copy(folder + "ARTICLE[3].xml", folder + "ARTICLE[4].xml"));
    }
    const QStringList folderBefore = FilesOf(folder);
    const QStringList before = Dump(kind);

    TRig rig(kind, packet);
    rig.View.Answers = {true};
    rig.Run.InstallPacket();
    QCOMPARE(rig.View.Questions.size(), 1);
    QCOMPARE(rig.View.Errors.size(), 1);
    QVERIFY2(rig.View.Errors[0].contains(error), qPrintable(rig.View.Errors[0]));
    QVERIFY(!rig.Run.LastRunCompleted());
    QCOMPARE(rig.View.Log, QStringList());
    QCOMPARE(FilesOf(folder), folderBefore);
    if (rig.DM.FBIsConnected()) rig.DM.FBDisconnect();
    const QString difference = FirstDifference(before, Dump(kind));
    QVERIFY2(difference.isEmpty(), qPrintable(difference));
  }

  // A chunk repaired in the explorer changes size; its save records it in
  // the manifest, so the reused folder still installs.
  void reusedRepairedFolderInstalls() {
    const QString packet = MakePacket("as generated");
    const QString folder = PacketLayout::UnpackFolder(packet);
    QString extractError;
    QVERIFY(TArchiver(QString()).ExtractPacket(packet, folder, extractError));
    const QString chunk = folder + "N_DRUG_TYPE[1].xml";
    RewriteChunk(chunk,
                 [](QVector<TFieldDef>&, QVector<QVector<Variant>>& rows) { rows.removeLast(); });
    TClientDataSet saved;
    saved.LoadFromFile(chunk);
    QVERIFY(UpdateManifestForChunk(chunk, saved.RecordCount()));
    // A FireBird target: a MySQL one is left for the refusal cases.
    auto con = Open(kFireBird);
    const int rowsBefore = con->Open("SELECT COUNT(*) FROM N_DRUG_TYPE")->Value(0).ToInt32();
    con.reset();
    TRig rig(kFireBird, packet);
    rig.View.Answers = {true};
    rig.Run.InstallPacket();
    QVERIFY2(rig.Run.LastRunCompleted(), qPrintable(rig.View.Errors.join('\n')));
    if (rig.DM.FBIsConnected()) rig.DM.FBDisconnect();
    con = Open(kFireBird);
    QCOMPARE(con->Open("SELECT COUNT(*) FROM N_DRUG_TYPE")->Value(0).ToInt32(),
             saved.RecordCount());
    QVERIFY(rowsBefore != saved.RecordCount());
  }

  // MySQL adds the columns a table lacks: the check names them per table
  // for the installation and changes nothing itself.
  void mysqlMissingColumnsAreListed() {
    const QString folder = Copy("mysql columns");
    RewriteChunk(folder + "ARTICLE[1].xml", [](QVector<TFieldDef>& fields, auto& rows) {
      fields.append(Field("EXTRA_NOTE", ftString, 30));
      fields.append(Field("EXTRA_COUNT", ftLargeint));
      for (auto& row : rows) row << S("бележка") << I(5);
    });
    RewriteChunk(folder + "N_DRUG_TYPE[1].xml", [](QVector<TFieldDef>& fields, auto& rows) {
      fields.append(Field("EXTRA_MEMO", ftMemo));
      for (auto& row : rows) row << S("текст");
    });
    WritePacketManifest(folder, DescriptorLines(folder).mid(1));
    const QStringList before = Dump(kMySQL);
    RecorderView view;
    TDM dm(view);
    QString error;
    QVERIFY2(dm.MySQLConnect("127.0.0.1", kTargetMySQL, "root", QString(), error),
             qPrintable(error));
    TPacketContents contents;
    QVERIFY2(TPacketCheck(view).CheckPacket(folder, folder + PacketLayout::kDescriptorFileName,
                                            contents, error),
             qPrintable(error));
    const auto target = MakeLoadTarget(DataBaseType::MySQL, dm, view);
    QVERIFY2(target->CheckTargetShape(contents, error), qPrintable(error));
    QStringList missing;
    for (const TPacketTable& table : contents.Tables) {
      for (const TFieldDef& def : table.MissingColumns) missing.append(table.Name + "." + def.Name);
    }
    QCOMPARE(missing,
             QStringList({"N_DRUG_TYPE.EXTRA_MEMO", "ARTICLE.EXTRA_NOTE", "ARTICLE.EXTRA_COUNT"}));
    dm.MySQLDisconnect();
    QCOMPARE(Dump(kMySQL), before);
  }

  // A 1 GB file beside the chunks, in an archive of about 1 MB: the packet
  // installs and the file never reaches the disk.
  void hugeForeignEntryIsNotWritten() {
    const QString folder = Copy("huge");
    QStringList files = FilesOf(folder);
    QDir().mkpath(FDir.path() + "/huge");
    const QString packet = FDir.path() + "/huge/" + kPacketName + ".mpd";
    QVERIFY(Pack(folder, files, packet + ".part.zip"));
    // bsdtar appends the big entry from a sparse file; zeros deflate to
    // about a thousandth.
    const QString big = FDir.path() + "/huge/video.bin";
    {
      QFile f(big);
      QVERIFY(f.open(QIODevice::WriteOnly));
      QVERIFY(f.resize(qint64(1) << 30));
    }
    QProcess p;
    p.setWorkingDirectory(FDir.path() + "/huge");
    p.start("bsdtar", {"--format", "zip", "-cf", packet, "@" + packet + ".part.zip", "video.bin"});
    QVERIFY(p.waitForFinished(-1) && p.exitCode() == 0);
    QFile::remove(big);
    QFile::remove(packet + ".part.zip");
    QVERIFY2(QFileInfo(packet).size() < 4 * 1024 * 1024,
             qPrintable(QString::number(QFileInfo(packet).size())));

    TRig rig(kMySQL, packet);
    rig.Run.InstallPacket();
    QVERIFY2(rig.Run.LastRunCompleted(), qPrintable(rig.View.Errors.join('\n')));
    const QString unpacked = PacketLayout::UnpackFolder(packet);
    QVERIFY(!QFileInfo::exists(unpacked + "video.bin"));
    qint64 written = 0;
    QDirIterator it(unpacked, QDir::Files);
    while (it.hasNext()) written += QFileInfo(it.next()).size();
    QVERIFY2(written < 4 * 1024 * 1024, qPrintable(QString::number(written)));
    QCOMPARE(FilesOf(unpacked), files);
  }

  // A MySQL target also refuses a packet table it lacks: the cleanup would
  // otherwise run and the load stop at that table.
  void tableTheTargetLacks_data() {
    QTest::addColumn<int>("kind");
    QTest::newRow("MySQL") << int(kMySQL);
    QTest::newRow("Firebird") << int(kFireBird);
  }
  void tableTheTargetLacks() {
    QFETCH(int, kind);
    Exec(kind, "DROP TABLE VTR_ENV_VARS");
    ExpectRefused(kind, MakePacket("as generated"),
                  "Таблицата VTR_ENV_VARS от пакета липсва в базата данни");
  }

 private:
  // A fresh copy of the generated packet's files.
  QString Copy(const QString& tag) {
    const QString folder =
        FDir.path() + "/" + QString(tag).replace(' ', '_') + QString::number(++FCopies) + "/";
    QDir().mkpath(folder);
    for (const QString& file : FilesOf(FFiles)) QFile::copy(FFiles + file, folder + file);
    return folder;
  }

  // The generated packet with the case's change, as a packet file in a
  // folder of its own (so it unpacks afresh).
  QString MakePacket(const QString& how) {
    const QString folder = Copy("files");
    const QString caseDir = folder.chopped(1) + "_packet/";
    QDir().mkpath(caseDir);
    const QString packet = caseDir + kPacketName + ".mpd";
    const QString descriptor = folder + PacketLayout::kDescriptorFileName;
    const QString manifest = folder + TPacketManifest::kFileName;
    QStringList lines = DescriptorLines(folder);
    QStringList order = FilesOf(folder);
    QString format = "zip";
    if (how == "own table in the descriptor") SaveStringList(lines << kOwnTable, descriptor);
    if (how == "COMPANY_DATA in the descriptor")
      SaveStringList(lines << "COMPANY_DATA", descriptor);
    if (how == "monitoring table in the descriptor")
      SaveStringList(lines << "MON$ATTACHMENTS", descriptor);
    if (how == "descriptor of only its version line") SaveStringList(lines.mid(0, 1), descriptor);
    if (how == "two descriptors") {
      QDir().mkpath(folder + "sub");
      SaveStringList(QStringList{lines.first(), "N_NZOK_GROUP"}, folder + "sub/tables.descr");
      order.append("sub/tables.descr");
    }
    if (how == "chunk missing in the middle") {
      QFile::remove(folder + "ARTICLE[2].xml");
      order.removeAll("ARTICLE[2].xml");
    }
    if (how == "well-formed chunk with fewer rows")
      RewriteChunk(folder + "ARTICLE[2].xml",
                   [](auto&, QVector<QVector<Variant>>& rows) { rows.removeAt(10); });
    if (how == "zip cut at an entry boundary") {
      if (!Pack(folder, order, packet)) return QString();
      const QByteArray zip = ReadAll(packet);
      const QVector<qsizetype> headers = LocalHeaders(zip);
      WriteText(packet, zip.left(headers.at(headers.size() / 2)));
      return packet;
    }
    if (how == "tar cut at an entry boundary") {
      // The descriptor and the manifest first, then the chunks; the tar
      // ends after half of them, with no end-of-archive blocks.
      order.removeAll(PacketLayout::kDescriptorFileName);
      order.removeAll(TPacketManifest::kFileName);
      order = QStringList{PacketLayout::kDescriptorFileName, TPacketManifest::kFileName} +
              order.mid(0, order.size() / 2);
      format = "ustar";
    }
    if (how == "SQL in a table name" || how == "SQL in a column name" || how == "broken XML" ||
        how == "truncated XML" || how == "value that does not convert" ||
        how == "without manifest") {
      QFile::remove(manifest);
      order.removeAll(TPacketManifest::kFileName);
    }
    if (how == "SQL in a table name")
      SaveStringList(lines << "ARTICLE; DROP TABLE PHARMACY_NOTES", descriptor);
    if (how == "SQL in a column name")
      RewriteChunk(folder + "ARTICLE[1].xml", [](QVector<TFieldDef>& fields, auto&) {
        fields[1].Name = "NAME) VALUES (1); DELETE FROM PHARMACY_NOTES; --";
      });
    if (how == "broken XML") WriteText(folder + "ARTICLE[2].xml", "<DATAPACKET><METADATA>");
    if (how == "truncated XML") {
      const QByteArray whole = ReadAll(folder + "ARTICLE[3].xml");
      WriteText(folder + "ARTICLE[3].xml", whole.left(whole.size() - 40));
    }
    if (how == "value that does not convert") {
      QByteArray text = ReadAll(folder + "ARTICLE[1].xml");
      const qsizetype at = text.indexOf(" ID=\"");
      const qsizetype end = text.indexOf('"', at + 5);
      text.replace(at + 5, end - at - 5, "x10");
      WriteText(folder + "ARTICLE[1].xml", text);
    }
    if (how == "chunk column the target lacks") {
      RewriteChunk(folder + "ARTICLE[1].xml", [](QVector<TFieldDef>& fields, auto& rows) {
        fields.append(Field("EXTRA_NOTE", ftString, 30));
        for (auto& row : rows) row << S("бележка");
      });
      // A packet whose manifest agrees: only the target can refuse it.
      WritePacketManifest(folder, lines.mid(1));
    }
    if (format == "ustar" && !order.contains(PacketLayout::kDescriptorFileName)) return QString();
    if (!Pack(folder, order, packet, format)) return QString();
    if (format == "ustar") {
      // bsdtar ends a tar with two zero blocks (and pads to 10 KiB); cut
      // after the last entry's data instead.
      QByteArray tar = ReadAll(packet);
      while (tar.endsWith(QByteArray(512, '\0'))) tar.chop(512);
      WriteText(packet, tar);
    }
    return packet;
  }
};

QTEST_GUILESS_MAIN(TestInstallChecks)
#include "test_install_checks.moc"
