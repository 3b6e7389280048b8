// What is checked of an unpacked packet before a target is touched: the
// descriptor, the numbering of every table's chunks, and the folder against
// the packet's manifest (written, read, and compared).
#include <QCryptographicHash>
#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QtTest>

#include "AppMiscFiles.h"
#include "ChunkFindings.h"
#include "ChunkSequenceCheck.h"
#include "ClientDataSet.h"
#include "DescriptorCheck.h"
#include "NompackError.h"
#include "PacketCheck.h"
#include "PacketLayout.h"
#include "PacketManifest.h"
#include "PacketManifestCheck.h"
#include "RecorderView.h"
#include "TargetShapeCheck.h"

namespace {

void WriteBytes(const QString& path, const QByteArray& data) {
  QFile f(path);
  QVERIFY2(f.open(QIODevice::WriteOnly | QIODevice::Truncate), qPrintable(path));
  f.write(data);
}

QByteArray ReadBytes(const QString& path) {
  QFile f(path);
  return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray("<missing>");
}

// A chunk of `rows` rows whose names start with `tag`, so that two chunks of
// equal row count still differ.
void WriteChunk(const QString& folder, const QString& table, int chunkNo, int rows,
                const QString& tag = QStringLiteral("ред")) {
  TClientDataSet ds;
  ds.AddFieldDef({QStringLiteral("ID"), ftInteger});
  ds.AddFieldDef({QStringLiteral("NAME"), ftString, 30});
  for (int i = 1; i <= rows; ++i)
    ds.AppendRow(
        {Variant::FromInt(i), Variant::FromString(QStringLiteral("%1 %2").arg(tag).arg(i))});
  ds.SaveToFile(folder + PacketLayout::ChunkFileName(table, chunkNo),
                TDataPacketFormat::SingleByte);
}

// ARTICLE in three chunks (2 + 2 + 1 rows), N_NZOK_GROUP in one (3 rows),
// PRODUCER without rows, and the descriptor listing the three.
const QStringList kTables{QStringLiteral("N_NZOK_GROUP"), QStringLiteral("PRODUCER"),
                          QStringLiteral("ARTICLE")};
void WritePacket(const QString& folder) {
  QDir().mkpath(folder);
  SaveStringList(QStringList{QStringLiteral("{2.1.0.15}")} + kTables,
                 folder + PacketLayout::kDescriptorFileName);
  WriteChunk(folder, QStringLiteral("N_NZOK_GROUP"), 1, 3);
  WriteChunk(folder, QStringLiteral("ARTICLE"), 1, 2);
  WriteChunk(folder, QStringLiteral("ARTICLE"), 2, 2);
  WriteChunk(folder, QStringLiteral("ARTICLE"), 3, 1);
}

QString Sha256(const QString& path) {
  return QString::fromLatin1(
      QCryptographicHash::hash(ReadBytes(path), QCryptographicHash::Sha256).toHex());
}

const QByteArray kSum(64, 'a');

}  // namespace

class TestPacketCheck : public QObject {
  Q_OBJECT

  QTemporaryDir FDir;
  QString FFolder;  // a fresh packet folder per test (row)

  // The check as a reused folder gets it (every chunk read from disk) and as
  // an unpacking gets it (chunks examined from the bytes extracted, all but
  // `notExtracted`): both must find the same, to the letter of the message.
  bool Check(QString& error, TPacketContents* found = nullptr,
             const QString& notExtracted = QString()) {
    RecorderView view;
    TPacketContents contents;
    const bool ok = TPacketCheck(view).CheckPacket(
        FFolder, FFolder + PacketLayout::kDescriptorFileName, contents, error);
    TChunkFindings extracted;
    for (const QString& name : QDir(FFolder).entryList(QDir::Files))
      if (name != notExtracted) extracted.Examine(name, FFolder + name, ReadBytes(FFolder + name));
    TPacketContents fromBytes;
    QString bytesError;
    const bool bytesOk = TPacketCheck(view).CheckPacket(
        FFolder, FFolder + PacketLayout::kDescriptorFileName, fromBytes, bytesError, &extracted);
    if (bytesOk != ok || bytesError != error || Summary(fromBytes) != Summary(contents))
      QTest::qFail(
          qPrintable(
              QStringLiteral("the extracted bytes' check differs: %1 / %2").arg(bytesError, error)),
          __FILE__, __LINE__);
    if (found) *found = contents;
    return ok;
  }

  static QStringList Summary(const TPacketContents& contents) {
    QStringList lines;
    for (const TPacketTable& t : contents.Tables) {
      QStringList columns;
      for (const TPacketColumn& c : t.Columns)
        columns
            << QStringLiteral("%1:%2:%3").arg(c.Def.Name).arg(int(c.Def.DataType)).arg(c.ChunkFile);
      lines << QStringLiteral("%1 %2 %3 %4 %5")
                   .arg(t.Name, t.ChunkFiles.join(','))
                   .arg(t.TotalRows)
                   .arg(t.ManifestRows)
                   .arg(columns.join(','));
    }
    return lines;
  }

 private slots:
  void init() {
    QVERIFY(FDir.isValid());
    static int n = 0;
    FFolder = FDir.path() + QStringLiteral("/p%1/").arg(++n);
    QVERIFY(QDir().mkpath(FFolder));
  }

  void descriptor_data() {
    QTest::addColumn<QStringList>("lines");
    QTest::addColumn<QString>("expected");  // empty: accepted
    QTest::newRow("every reference table")
        << (QStringList{QStringLiteral("{2.1.0.15}")} + PacketLayout::PacketTables()) << QString();
    QTest::newRow("some of them, in another order")
        << QStringList{"{1}", "ARTICLE", "N_NZOK_GROUP"} << QString();
    QTest::newRow("empty file") << QStringList() << "Празен файл с описание!";
    QTest::newRow("no version line")
        << QStringList{"ARTICLE", "PRODUCER"} << "трябва да съдържа версията на базата";
    QTest::newRow("version line only") << QStringList{"{2.1.0.15}"} << "нито една таблица";
    QTest::newRow("a site's own table")
        << QStringList{"{1}", "ARTICLE", "COMPANY_DATA"}
        << "Таблицата \"COMPANY_DATA\" (ред 3 на файла с описание) не е от таблиците";
    QTest::newRow("a document table") << QStringList{"{1}", "SALE_12"} << "\"SALE_12\" (ред 2";
    QTest::newRow("a monitoring table")
        << QStringList{"{1}", "MON$ATTACHMENTS"} << "\"MON$ATTACHMENTS\" (ред 2";
    QTest::newRow("a table name in lower case")
        << QStringList{"{1}", "article"} << "\"article\" (ред 2";
    QTest::newRow("a blank line") << QStringList{"{1}", "ARTICLE", ""}
                                  << "Невалидно име на таблица \"\"";
    QTest::newRow("a table twice")
        << QStringList{"{1}", "ARTICLE", "PRODUCER", "ARTICLE"}
        << "Таблицата \"ARTICLE\" е описана повече от веднъж във файла с описание (редове 2 и 4)";
    QTest::newRow("SQL in a name") << QStringList{"{1}", "ARTICLE; DROP TABLE SALE_12"}
                                   << "Невалидно име на таблица \"ARTICLE; DROP TABLE SALE_12\"";
  }
  void descriptor() {
    QFETCH(QStringList, lines);
    QFETCH(QString, expected);
    const QString error = DescriptorError(lines);
    if (expected.isEmpty()) {
      QVERIFY2(error.isEmpty(), qPrintable(error));
    } else {
      QVERIFY2(error.contains(expected), qPrintable(error));
    }
  }

  void chunkSequence_data() {
    QTest::addColumn<QStringList>("files");
    QTest::addColumn<QString>("expected");
    QTest::newRow("no chunks") << QStringList() << QString();
    QTest::newRow("one to three") << QStringList{"ARTICLE[1].xml", "ARTICLE[2].xml",
                                                 "ARTICLE[3].xml"}
                                  << QString();
    QTest::newRow("a gap in the middle")
        << QStringList{"ARTICLE[1].xml", "ARTICLE[3].xml"}
        << "Липсва част 2 на таблица ARTICLE (файл \"ARTICLE[2].xml\")";
    QTest::newRow("the first missing") << QStringList{"ARTICLE[2].xml"} << "Липсва част 1";
    QTest::newRow("one number twice")
        << QStringList{"ARTICLE[1].xml", "article[1].xml"}
        << "Част 1 на таблица ARTICLE се среща в два файла: \"ARTICLE[1].xml\" и "
           "\"article[1].xml\"";
    QTest::newRow("a leading zero")
        << QStringList{"ARTICLE[1].xml", "ARTICLE[01].xml"} << "се среща в два файла";
    QTest::newRow("no number") << QStringList{"ARTICLE[x].xml", "ARTICLE[1].xml"}
                               << "\"ARTICLE[x].xml\" на таблица ARTICLE не носи номер";
    QTest::newRow("a negative number")
        << QStringList{"ARTICLE[-2].xml", "ARTICLE[1].xml"} << "не носи номер";
  }
  void chunkSequence() {
    QFETCH(QStringList, files);
    QFETCH(QString, expected);
    SortChunkFiles(files);
    const QString error = ChunkSequenceError(QStringLiteral("ARTICLE"), files);
    if (expected.isEmpty()) {
      QVERIFY2(error.isEmpty(), qPrintable(error));
    } else {
      QVERIFY2(error.contains(expected), qPrintable(error));
    }
  }

  // The manifest of a folder: one line per chunk in descriptor order, with
  // the rows read back and the checksum of the bytes on disk; it reads back
  // as written and matches the folder it was made from.
  void manifestRoundTrip() {
    WritePacket(FFolder);
    WritePacketManifest(FFolder, kTables);
    const QByteArray text = ReadBytes(FFolder + QStringLiteral("packet.manifest"));
    const QList<QByteArray> lines = text.split('\n');
    QCOMPARE(lines.first(), QByteArray("NOMPACK-MANIFEST 1\r"));
    QCOMPARE(lines.size(), 6);  // header, four chunks, the empty rest after the last CR LF
    QCOMPARE(lines.at(1), "N_NZOK_GROUP\t1\tN_NZOK_GROUP[1].xml\t3\t" +
                              Sha256(FFolder + "N_NZOK_GROUP[1].xml").toLatin1() + "\r");
    QCOMPARE(lines.at(4), "ARTICLE\t3\tARTICLE[3].xml\t1\t" +
                              Sha256(FFolder + "ARTICLE[3].xml").toLatin1() + "\r");

    const TPacketManifest manifest =
        TPacketManifest::LoadFromFile(FFolder + TPacketManifest::kFileName);
    QCOMPARE(manifest.Chunks.size(), 4);
    QCOMPARE(manifest.ToBytes(), text);
    QCOMPARE(manifest.Tables(), (QStringList{"N_NZOK_GROUP", "ARTICLE"}));
    QCOMPARE(manifest.Find("ARTICLE[2].xml")->Rows, 2);
    QVERIFY(!manifest.Find("article[2].xml"));
    const QString error = PacketManifestError(FFolder, kTables, manifest);
    QVERIFY2(error.isEmpty(), qPrintable(error));

    QString checkError;
    TPacketContents contents;
    QVERIFY2(Check(checkError, &contents), qPrintable(checkError));
    QCOMPARE(contents.Find("ARTICLE")->TotalRows, 5);
  }

  void manifestRefusesWhatItCannotVouchFor_data() {
    QTest::addColumn<QByteArray>("text");
    QTest::addColumn<QString>("expected");
    const QByteArray head = "NOMPACK-MANIFEST 1\r\n";
    const QByteArray line = "ARTICLE\t1\tARTICLE[1].xml\t50\t" + kSum;
    QTest::newRow("empty") << QByteArray() << "(ред 1): файлът е празен";
    QTest::newRow("another file") << QByteArray("{2.1.0.15}\r\nARTICLE\r\n")
                                  << "(ред 1): липсва заглавният ред";
    QTest::newRow("a later version")
        << QByteArray("NOMPACK-MANIFEST 2\r\n") << "версия 2 не се поддържа";
    QTest::newRow("four fields") << head + "ARTICLE\t1\tARTICLE[1].xml\t50\r\n"
                                 << "(ред 2): очакват се 5 полета";
    QTest::newRow("chunk 0") << head + "ARTICLE\t0\tARTICLE[0].xml\t50\t" + kSum
                             << "(ред 2): невалиден номер на част";
    QTest::newRow("rows not a number")
        << head + "ARTICLE\t1\tARTICLE[1].xml\t5x\t" + kSum << "невалиден брой редове";
    QTest::newRow("negative rows")
        << head + "ARTICLE\t1\tARTICLE[1].xml\t-1\t" + kSum << "невалиден брой редове";
    QTest::newRow("short checksum") << head + line.chopped(1) << "невалидна контролна сума";
    QTest::newRow("upper-case checksum")
        << head + line.toUpper().replace("ARTICLE[1].XML", "ARTICLE[1].xml")
        << "невалидна контролна сума";
    QTest::newRow("name of another chunk")
        << head + "ARTICLE\t2\tARTICLE[1].xml\t50\t" + kSum
        << "файлът ARTICLE[1].xml не е част 2 на таблица ARTICLE";
    QTest::newRow("a file twice") << head + line + "\r\n" + line + "\r\n"
                                  << "(ред 3): файлът ARTICLE[1].xml е описан повече от веднъж";
  }
  void manifestRefusesWhatItCannotVouchFor() {
    QFETCH(QByteArray, text);
    QFETCH(QString, expected);
    try {
      TPacketManifest::FromBytes(text, QStringLiteral("packet.manifest"));
      QFAIL("accepted");
    } catch (const ENompackError& e) {
      QVERIFY2(e.Message().startsWith("Файлът packet.manifest е повреден"),
               qPrintable(e.Message()));
      QVERIFY2(e.Message().contains(expected), qPrintable(e.Message()));
    }
  }

  // The installer's check of a folder with a manifest: each way the folder
  // can differ from it is refused before any target is touched.
  void folderDiffersFromManifest_data() {
    QTest::addColumn<QString>("change");
    QTest::addColumn<QString>("expected");
    QTest::newRow("the last chunk lost")
        << "lose last"
        << "Липсва файл \"ARTICLE[3].xml\" на таблица ARTICLE, записан в packet.manifest";
    QTest::newRow("a middle chunk lost") << "lose middle"
                                         << "Липсва част 2 на таблица ARTICLE";
    QTest::newRow("a table's only chunk lost")
        << "lose table"
        << "Липсва файл \"N_NZOK_GROUP[1].xml\" на таблица N_NZOK_GROUP";
    QTest::newRow("a chunk changed, rows as before")
        << "change"
        << "Файлът \"ARTICLE[2].xml\" на таблица ARTICLE е различен от записания";
    QTest::newRow("a chunk with fewer rows, checksum updated")
        << "fewer rows"
        << "Файлът \"ARTICLE[2].xml\" на таблица ARTICLE съдържа 1 реда, а в "
           "packet.manifest са записани 2";
    QTest::newRow("a chunk beyond the manifest")
        << "extra chunk"
        << "Файлът \"ARTICLE[4].xml\" на таблица ARTICLE не е записан";
    QTest::newRow("chunks of a table the manifest has none of")
        << "extra table"
        << "Файлът \"PRODUCER[1].xml\" на таблица PRODUCER не е записан";
    QTest::newRow("a table dropped from the descriptor")
        << "drop table"
        << "Таблица ARTICLE е записана в packet.manifest, но липсва във файла";
    QTest::newRow("a damaged manifest") << "damage manifest"
                                        << "packet.manifest е повреден";
  }
  void folderDiffersFromManifest() {
    QFETCH(QString, change);
    QFETCH(QString, expected);
    WritePacket(FFolder);
    WritePacketManifest(FFolder, kTables);
    const QString manifestPath = FFolder + TPacketManifest::kFileName;
    if (change == "lose last") QVERIFY(QFile::remove(FFolder + "ARTICLE[3].xml"));
    if (change == "lose middle") QVERIFY(QFile::remove(FFolder + "ARTICLE[2].xml"));
    if (change == "lose table") QVERIFY(QFile::remove(FFolder + "N_NZOK_GROUP[1].xml"));
    if (change == "change") WriteChunk(FFolder, "ARTICLE", 2, 2, "друг ред");
    if (change == "fewer rows") {
      WriteChunk(FFolder, "ARTICLE", 2, 1);
      TPacketManifest m = TPacketManifest::LoadFromFile(manifestPath);
      m.Find("ARTICLE[2].xml")->Checksum = Sha256(FFolder + "ARTICLE[2].xml").toLatin1();
      m.SaveToFile(manifestPath);
    }
    if (change == "extra chunk") WriteChunk(FFolder, "ARTICLE", 4, 1);
    if (change == "extra table") WriteChunk(FFolder, "PRODUCER", 1, 1);
    if (change == "drop table")
      SaveStringList({"{2.1.0.15}", "N_NZOK_GROUP"}, FFolder + PacketLayout::kDescriptorFileName);
    if (change == "damage manifest") WriteBytes(manifestPath, ReadBytes(manifestPath).left(30));
    QString error;
    QVERIFY(!Check(error));
    QVERIFY2(error.contains(expected), qPrintable(error));
  }

  // A damaged chunk is refused with the message of loading it, whether the
  // unpacking examined its bytes or the check reads it from disk.
  void damagedChunk_data() {
    QTest::addColumn<QByteArray>("content");
    QTest::addColumn<bool>("extracted");
    QTest::addColumn<QString>("expected");
    const QByteArray broken("<?xml version=\"1.0\"?><DATAPACKET Version=\"2.0\"><METADATA>");
    for (const bool extracted : {true, false}) {
      const char* how = extracted ? "examined as extracted" : "read from disk";
      QTest::addRow("broken XML, %s", how) << broken << extracted << "ARTICLE[2].xml";
      QTest::addRow("empty file, %s", how) << QByteArray() << extracted << "ARTICLE[2].xml";
    }
  }
  void damagedChunk() {
    QFETCH(QByteArray, content);
    QFETCH(bool, extracted);
    QFETCH(QString, expected);
    WritePacket(FFolder);
    WriteBytes(FFolder + "ARTICLE[2].xml", content);
    QString error;
    TPacketContents found;
    QVERIFY(!Check(error, &found, extracted ? QString() : QStringLiteral("ARTICLE[2].xml")));
    QVERIFY2(error.contains(expected), qPrintable(error));
    QVERIFY(found.Tables.isEmpty());
  }

  // Without a manifest (a packet made elsewhere or earlier) the other checks
  // alone decide; a gap is refused all the same.
  void packetWithoutManifest_data() {
    QTest::addColumn<bool>("gap");
    QTest::newRow("complete") << false;
    QTest::newRow("a chunk missing in the middle") << true;
  }
  void packetWithoutManifest() {
    QFETCH(bool, gap);
    WritePacket(FFolder);
    if (gap) QVERIFY(QFile::remove(FFolder + "ARTICLE[2].xml"));
    QString error;
    TPacketContents contents;
    QCOMPARE(Check(error, &contents), !gap);
    if (gap) {
      QCOMPARE(error, QStringLiteral(
                          "Липсва част 2 на таблица ARTICLE (файл \"ARTICLE[2].xml\"): пакетът е "
                          "непълен."));
    } else {
      QVERIFY2(error.isEmpty(), qPrintable(error));
      QCOMPARE(contents.Find("N_NZOK_GROUP")->TotalRows, 3);
      QCOMPARE(contents.Find("ARTICLE")->ChunkFiles.size(), 3);
    }
  }

  // The descriptor check runs in the packet check too.
  void packetCheckRefusesADescriptorOfOtherTables() {
    WritePacket(FFolder);
    SaveStringList({"{2.1.0.15}", "ARTICLE", "DOCUMENT_HEADER"},
                   FFolder + PacketLayout::kDescriptorFileName);
    QString error;
    QVERIFY(!Check(error));
    QVERIFY2(error.contains("\"DOCUMENT_HEADER\" (ред 3"), qPrintable(error));
  }

  // A chunk saved elsewhere (the explorer) is recorded in the manifest beside
  // it; a chunk the manifest does not list, or a folder without one, is left
  // as it is.
  // The target's side: every table there; a column the table lacks is
  // refused (Firebird) or noted for adding (MySQL), unless never loaded.
  void targetShape_data() {
    QTest::addColumn<bool>("mysql");
    QTest::addColumn<QStringList>("targetTables");
    QTest::addColumn<bool>("caseMatters");
    QTest::addColumn<QStringList>("articleColumns");
    QTest::addColumn<QString>("error");
    QTest::addColumn<QStringList>("missing");
    const QStringList all{"N_NZOK_GROUP", "PRODUCER", "ARTICLE"};
    const QStringList idName{"ID", "NAME"};
    QTest::newRow("everything there") << false << all << false << idName << "" << QStringList();
    QTest::newRow("a table missing")
        << false << QStringList{"N_NZOK_GROUP", "ARTICLE"} << false << idName
        << "Таблицата PRODUCER от пакета липсва" << QStringList();
    QTest::newRow("table in other letter case, unquoted names fold")
        << false << QStringList{"N_NZOK_GROUP", "producer", "ARTICLE"} << false << idName << ""
        << QStringList();
    QTest::newRow("table in other letter case, the server tells them apart")
        << true << QStringList{"N_NZOK_GROUP", "producer", "ARTICLE"} << true << idName
        << "Таблицата PRODUCER от пакета липсва" << QStringList();
    QTest::newRow("Firebird: a column missing")
        << false << all << false << QStringList{"ID"}
        << "Таблицата ARTICLE в базата данни няма колона NAME, която е във файла "
           "\"ARTICLE[1].xml\""
        << QStringList();
    QTest::newRow("Firebird: column names ignore case")
        << false << all << false << QStringList{"id", "Name"} << "" << QStringList();
    QTest::newRow("MySQL: a column missing is noted")
        << true << all << true << QStringList{"ID"} << "" << QStringList{"ARTICLE.NAME"};
  }
  void targetShape() {
    QFETCH(bool, mysql);
    QFETCH(QStringList, targetTables);
    QFETCH(bool, caseMatters);
    QFETCH(QStringList, articleColumns);
    QFETCH(QString, error);
    QFETCH(QStringList, missing);
    const QString folder = FDir.path() + QStringLiteral("/shape/");
    WritePacket(folder);
    RecorderView view;
    TPacketContents contents;
    QString checkError;
    QVERIFY2(TPacketCheck(view).CheckPacket(folder, folder + PacketLayout::kDescriptorFileName,
                                            contents, checkError),
             qPrintable(checkError));
    TTargetCatalogue catalogue;
    catalogue.Tables = targetTables;
    catalogue.TableCaseMatters = caseMatters;
    catalogue.AddsMissingColumns = mysql;
    catalogue.ColumnsOf = [&](const QString& table) {
      return table == QLatin1String("ARTICLE") ? articleColumns : QStringList{"ID", "NAME"};
    };
    const QString shapeError = TargetShapeError(contents, catalogue);
    if (error.isEmpty())
      QCOMPARE(shapeError, QString());
    else
      QVERIFY2(shapeError.startsWith(error), qPrintable(shapeError));
    QStringList noted;
    for (const TPacketTable& table : contents.Tables) {
      for (const TFieldDef& def : table.MissingColumns) noted.append(table.Name + "." + def.Name);
    }
    QCOMPARE(noted, missing);
  }

  // A column the loader leaves out need not exist; one MySQL cannot create
  // is refused before anything changes.
  void targetShapeColumnRules_data() {
    QTest::addColumn<int>("type");
    QTest::addColumn<bool>("leftOut");
    QTest::addColumn<bool>("refused");
    QTest::newRow("left out") << int(ftString) << true << false;
    QTest::newRow("no MySQL type") << int(ftADT) << false << true;
    QTest::newRow("a MySQL type") << int(ftBCD) << false << false;
  }
  void targetShapeColumnRules() {
    QFETCH(int, type);
    QFETCH(bool, leftOut);
    QFETCH(bool, refused);
    TPacketContents contents;
    TPacketTable table;
    table.Name = QStringLiteral("ARTICLE");
    table.Columns.append({{QStringLiteral("PHARM_ID"), static_cast<TFieldType>(type), 10, 4},
                          QStringLiteral("ARTICLE[1].xml")});
    contents.Tables.append(table);
    TTargetCatalogue catalogue;
    catalogue.Tables = QStringList{QStringLiteral("ARTICLE")};
    catalogue.AddsMissingColumns = true;
    catalogue.ColumnsOf = [](const QString&) { return QStringList{QStringLiteral("ID")}; };
    catalogue.LeftOut = [&](const QString&) { return leftOut; };
    const QString error = TargetShapeError(contents, catalogue);
    QCOMPARE(!error.isEmpty(), refused);
    if (refused) QVERIFY2(error.contains(QStringLiteral("PHARM_ID")), qPrintable(error));
    QCOMPARE(contents.Tables[0].MissingColumns.size(), leftOut || refused ? 0 : 1);
  }

  void updateManifestForChunk() {
    WritePacket(FFolder);
    WritePacketManifest(FFolder, kTables);
    const QString manifestPath = FFolder + TPacketManifest::kFileName;
    WriteChunk(FFolder, "ARTICLE", 2, 1, "поправен");
    QVERIFY(UpdateManifestForChunk(FFolder + "ARTICLE[2].xml", 1));
    const TPacketManifest m = TPacketManifest::LoadFromFile(manifestPath);
    QCOMPARE(m.Find("ARTICLE[2].xml")->Rows, 1);
    QCOMPARE(QString::fromLatin1(m.Find("ARTICLE[2].xml")->Checksum),
             Sha256(FFolder + "ARTICLE[2].xml"));
    QCOMPARE(m.Find("ARTICLE[1].xml")->Rows, 2);
    QString error;
    QVERIFY2(Check(error), qPrintable(error));

    const QByteArray before = ReadBytes(manifestPath);
    WriteChunk(FFolder, "PRODUCER", 1, 1);
    QVERIFY(!UpdateManifestForChunk(FFolder + "PRODUCER[1].xml", 1));
    QCOMPARE(ReadBytes(manifestPath), before);
    const QString other = FDir.path() + QStringLiteral("/loose/");
    QDir().mkpath(other);
    WriteChunk(other, "ARTICLE", 1, 1);
    QVERIFY(!UpdateManifestForChunk(other + "ARTICLE[1].xml", 1));
    QVERIFY(!QFile::exists(other + TPacketManifest::kFileName));
  }
};

QTEST_GUILESS_MAIN(TestPacketCheck)
#include "test_packetcheck.moc"
