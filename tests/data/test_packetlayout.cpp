#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QtTest>

#include "AppMiscFiles.h"
#include "DataBaseType.h"
#include "NompackError.h"
#include "PacketLayout.h"

using namespace PacketLayout;

class TestPacketLayout : public QObject {
  Q_OBJECT

  static void Touch(const QString& path, const QByteArray& data = QByteArray("x")) {
    QFile f(path);
    QVERIFY(f.open(QIODevice::WriteOnly));
    f.write(data);
  }

 private slots:
  void names() {
    const QDateTime when(QDate(2024, 3, 7), QTime(9, 15, 2, 987));
    QCOMPARE(BuildPacketName(QStringLiteral("fbdb"), when),
             QStringLiteral("nompack_fbdb_20240307-091502"));
    QCOMPARE(
        BuildPacketName(QStringLiteral("mydb"), QDateTime(QDate(987, 12, 31), QTime(23, 59, 59))),
        QStringLiteral("nompack_mydb_09871231-235959"));
    QCOMPARE(ChunkFileName(QStringLiteral("ARTICLE"), 12), QStringLiteral("ARTICLE[12].xml"));
    QCOMPARE(ChunkFileMask(QStringLiteral("ARTICLE")), QStringLiteral("ARTICLE[*].xml"));
  }

  // The kind choice's positions name the packets: a position read as the
  // wrong kind gives a packet the other side's browser never offers.
  void kinds_data() {
    QTest::addColumn<int>("index");
    QTest::addColumn<QString>("tag");
    QTest::addColumn<QString>("extension");
    QTest::newRow("MySQL") << 0 << "mydb"
                           << ".mpd";
    QTest::newRow("FireBird") << 1 << "fbdb"
                              << ".fpd";
    QTest::newRow("MSSQL") << 2 << "msdb"
                           << ".mspd";
    QTest::newRow("beyond the list") << 3 << "msdb"
                                     << ".mspd";
    QTest::newRow("nothing chosen") << -1 << "msdb"
                                    << ".mspd";
  }

  void kinds() {
    QFETCH(int, index);
    QFETCH(QString, tag);
    QFETCH(QString, extension);
    const DataBaseType kind = DataBaseTypeFromIndex(index);
    if (index >= 0 && index <= 2) QCOMPARE(static_cast<int>(kind), index);
    QCOMPARE(DataBaseTag(kind), tag);
    QCOMPARE(DataBasePacketExtension(kind), extension);
    const QString name =
        BuildPacketName(DataBaseTag(kind), QDateTime(QDate(2024, 1, 2), QTime(3, 4, 5)));
    QCOMPARE(PacketFileName(ArchiveName(PacketFolder(QStringLiteral("/x/"), name)),
                            DataBasePacketExtension(kind)),
             QStringLiteral("/x/nompack_%1_20240102-030405%2").arg(tag, extension));
  }

  void paths_data() {
    QTest::addColumn<QString>("exportFolder");
    QTest::addColumn<QString>("packetFolder");
    QTest::newRow("without separator") << "/out"
                                       << "/out/nompack_fbdb_20240307-091502/";
    QTest::newRow("with separator") << "/out/"
                                    << "/out/nompack_fbdb_20240307-091502/";
    QTest::newRow("empty: relative") << ""
                                     << "nompack_fbdb_20240307-091502/";
    QTest::newRow("spaces") << "/my out"
                            << "/my out/nompack_fbdb_20240307-091502/";
  }
  void paths() {
    QFETCH(QString, exportFolder);
    QFETCH(QString, packetFolder);
    const QString folder =
        PacketFolder(exportFolder, QStringLiteral("nompack_fbdb_20240307-091502"));
    QCOMPARE(folder, packetFolder);
    const QString archive = ArchiveName(folder);
    QCOMPARE(archive, packetFolder.chopped(1) + QStringLiteral(".rar"));
    QCOMPARE(PacketFileName(archive, QStringLiteral(".fpd")),
             packetFolder.chopped(1) + QStringLiteral(".fpd"));
    QCOMPARE(UnpackFolder(PacketFileName(archive, QStringLiteral(".fpd"))), packetFolder);
  }

  void trailingSeparator_data() {
    QTest::addColumn<QString>("path");
    QTest::addColumn<QString>("expected");
    QTest::newRow("empty stays empty") << ""
                                       << "";
    QTest::newRow("appended") << "/a/b"
                              << "/a/b/";
    QTest::newRow("kept") << "/a/b/"
                          << "/a/b/";
    QTest::newRow("only last char looked at") << "/a/b/ "
                                              << "/a/b/ /";
  }
  void trailingSeparator() {
    QFETCH(QString, path);
    QFETCH(QString, expected);
    QCOMPARE(AddTrailingBackslash(path), expected);
  }

  void unpackFolder_data() {
    QTest::addColumn<QString>("packet");
    QTest::addColumn<QString>("folder");
    QTest::newRow("extension removed") << "/in/nompack_fbdb_20240307-091502.fpd"
                                       << "/in/nompack_fbdb_20240307-091502/";
    QTest::newRow("dot in folder stays") << "/data.old/pk.mspd"
                                         << "/data.old/pk/";
    QTest::newRow("no extension: whole name") << "/data.old/pk"
                                              << "/data.old/pk/";
    QTest::newRow("only last extension") << "/in/a.b.c"
                                         << "/in/a.b/";
  }
  void unpackFolder() {
    QFETCH(QString, packet);
    QFETCH(QString, folder);
    QCOMPARE(UnpackFolder(packet), folder);
  }

  void descriptorBytes() {
    QTemporaryDir dir;
    const QString path = dir.filePath(kDescriptorFileName);
    SaveStringList(TablesDescrLines(QStringLiteral("2.1.0.15")), path);
    QFile f(path);
    QVERIFY(f.open(QIODevice::ReadOnly));
    const QByteArray bytes = f.readAll();
    QByteArray expected = "{2.1.0.15}\r\n";
    for (const QString& t : PacketTables()) expected += t.toLatin1() + "\r\n";
    QCOMPARE(bytes, expected);
    QCOMPARE(PacketTables().size(), 37);
    QCOMPARE(PacketTables().first(), QStringLiteral("N_NZOK_GROUP"));
    QCOMPARE(PacketTables().at(20), QStringLiteral("ARTICLE"));
    QCOMPARE(PacketTables().last(), QStringLiteral("SUBSTITUDE_ARTICLE"));
    // The file reads back as the same 38 lines.
    QCOMPARE(LoadStringList(path), TablesDescrLines(QStringLiteral("2.1.0.15")));
  }

  void loadStringList_data() {
    QTest::addColumn<QByteArray>("bytes");
    QTest::addColumn<QStringList>("lines");
    QTest::newRow("crlf") << QByteArray("a\r\nb\r\n") << QStringList{"a", "b"};
    QTest::newRow("no final line end") << QByteArray("a\r\nb") << QStringList{"a", "b"};
    QTest::newRow("lf and cr") << QByteArray("a\nb\rc") << QStringList{"a", "b", "c"};
    QTest::newRow("empty lines kept") << QByteArray("a\r\n\r\nb\r\n") << QStringList{"a", "", "b"};
    QTest::newRow("empty file") << QByteArray() << QStringList{};
    QTest::newRow("cp1251") << QByteArray("\xC0\xF0\xF2\xE8\xEA\xF3\xEB\r\n")
                            << QStringList{QStringLiteral("Артикул")};
    QTest::newRow("utf-8 bom") << QByteArray("\xEF\xBB\xBF\xD0\x90\r\n")
                               << QStringList{QStringLiteral("А")};
  }
  void loadStringList() {
    QFETCH(QByteArray, bytes);
    QFETCH(QStringList, lines);
    QTemporaryDir dir;
    Touch(dir.filePath(QStringLiteral("f.txt")), bytes);
    QCOMPARE(LoadStringList(dir.filePath(QStringLiteral("f.txt"))), lines);
  }

  void loadStringListMissing() {
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("missing.descr"));
    try {
      LoadStringList(path);
      QFAIL("no error");
    } catch (const ENompackError& e) {
      QVERIFY(e.Message().contains(path));
      QCOMPARE(e.ErrorKind(), ENompackError::Kind::File);
    }
  }

  void chunkIndex_data() {
    QTest::addColumn<QString>("name");
    QTest::addColumn<int>("index");
    QTest::newRow("plain") << "ARTICLE[12].xml" << 12;
    QTest::newRow("letters") << "ARTICLE[x].xml" << 0;
    QTest::newRow("no brackets") << "ARTICLE.xml" << 0;
    QTest::newRow("empty") << "ARTICLE[].xml" << 0;
    QTest::newRow("negative") << "ARTICLE[-2].xml" << -2;
    QTest::newRow("out of range") << "ARTICLE[99999999999].xml" << 0;
    QTest::newRow("] before [") << "A]1[.xml" << 0;
    QTest::newRow("first brackets") << "A[3]B[4].xml" << 3;
    QTest::newRow("blank inside") << "A[ 3].xml" << 0;
  }
  void chunkIndex() {
    QFETCH(QString, name);
    QFETCH(int, index);
    QCOMPARE(GetChunkIndex(name), index);
  }

  void sortChunks() {
    QStringList names;
    for (int i : {1, 10, 11, 12, 2, 3, 4, 5, 6, 7, 8, 9})
      names << ChunkFileName(QStringLiteral("T"), i);
    names << QStringLiteral("T[x].xml") << QStringLiteral("T[-2].xml")
          << QStringLiteral("T[y].xml");
    SortChunkFiles(names);
    QStringList expected{QStringLiteral("T[-2].xml"), QStringLiteral("T[x].xml"),
                         QStringLiteral("T[y].xml")};
    for (int i = 1; i <= 12; ++i) expected << ChunkFileName(QStringLiteral("T"), i);
    QCOMPARE(names, expected);
  }

  void mask_data() {
    QTest::addColumn<QString>("name");
    QTest::addColumn<QString>("mask");
    QTest::addColumn<bool>("match");
    QTest::newRow("chunk") << "ARTICLE[1].xml"
                           << "ARTICLE[*].xml" << true;
    QTest::newRow("case ignored") << "article[3].XML"
                                  << "ARTICLE[*].xml" << true;
    QTest::newRow("longer table not matched") << "ARTICLE_INFO[1].xml"
                                              << "ARTICLE[*].xml" << false;
    QTest::newRow("brackets literal") << "ARTICLEx.xml"
                                      << "ARTICLE[*].xml" << false;
    QTest::newRow("star matches none") << "ARTICLE[].xml"
                                       << "ARTICLE[*].xml" << true;
    QTest::newRow("star dot star, no dot") << "tables"
                                           << "*.*" << true;
    QTest::newRow("cyrillic case") << "АРТИКУЛ[1].xml"
                                   << "артикул[*].xml" << true;
    QTest::newRow("question mark") << "A1.xml"
                                   << "A?.xml" << true;
    QTest::newRow("trailing text") << "ARTICLE[1].xml.bak"
                                   << "ARTICLE[*].xml" << false;
  }
  void mask() {
    QFETCH(QString, name);
    QFETCH(QString, mask);
    QFETCH(bool, match);
    QCOMPARE(MatchFileMask(name, mask), match);
  }

  void fileList() {
    QTemporaryDir dir;
    const QString folder = AddTrailingBackslash(dir.path());
    Touch(folder + QStringLiteral("ARTICLE[1].xml"));
    Touch(folder + QStringLiteral("article[2].xml"));
    Touch(folder + QStringLiteral(".ARTICLE[3].xml"));  // hidden, still not matching the mask
    Touch(folder + QStringLiteral("ARTICLE[4].xml"));
    QFile::setPermissions(folder + QStringLiteral("ARTICLE[4].xml"), QFileDevice::ReadOwner);
    Touch(folder + QStringLiteral("ARTICLE_NZOK[1].xml"));
    Touch(folder + QStringLiteral(".hidden"));
    QVERIFY(QDir(folder).mkdir(QStringLiteral("ARTICLE[9].xml")));  // a folder is not listed
    QStringList list = GetFileList(folder, ChunkFileMask(QStringLiteral("ARTICLE")));
    list.sort();
    QCOMPARE(list, (QStringList{QStringLiteral("ARTICLE[1].xml"), QStringLiteral("ARTICLE[4].xml"),
                                QStringLiteral("article[2].xml")}));
    QCOMPARE(GetFileCount(folder), 6);
    QTemporaryDir empty;
    QVERIFY(QDir(empty.path()).mkdir(QStringLiteral("sub")));
    QCOMPARE(GetFileCount(AddTrailingBackslash(empty.path())), 0);
  }

  void upperCaseList() {
    QStringList list{QStringLiteral("pharm_id"), QStringLiteral("цена"), QStringLiteral("Id")};
    UpperCaseList(list);
    QCOMPARE(list, (QStringList{QStringLiteral("PHARM_ID"), QStringLiteral("ЦЕНА"),
                                QStringLiteral("ID")}));
  }
};

QTEST_GUILESS_MAIN(TestPacketLayout)
#include "test_packetlayout.moc"
