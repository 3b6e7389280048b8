// The archiver: packing with libarchive and through a "rar" program in the
// program folder, the checks before the packet folder is given up, the
// rename, and extraction that never writes outside the unpack folder.
#include <archive.h>
#include <archive_entry.h>

#include <QDir>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <QtTest>
#include <algorithm>
#include <mutex>

#include "Archiver.h"
#include "NompackError.h"
#include "ReusedFolderCheck.h"

namespace {

void WriteFile(const QString& path, const QByteArray& data) {
  QFile f(path);
  QVERIFY2(f.open(QIODevice::WriteOnly | QIODevice::Truncate), qPrintable(path));
  f.write(data);
}

QByteArray ReadFile(const QString& path) {
  QFile f(path);
  if (!f.open(QIODevice::ReadOnly)) return QByteArray("<missing>");
  return f.readAll();
}

QStringList Files(const QString& folder) {
  return QDir(folder).entryList(QDir::Files | QDir::Hidden, QDir::Name);
}

// A packet folder as a generation run leaves it before packing.
QMap<QString, QByteArray> FillPacketFolder(const QString& folder) {
  QMap<QString, QByteArray> files;
  files.insert(QStringLiteral("tables.descr"), QByteArray("{2.1.0.15}\r\nN_NZOK_GROUP\r\n"));
  QByteArray big;
  for (int i = 0; i < 5000; ++i)
    big += "<ROW ID=\"" + QByteArray::number(i) + "\" NAME=\"\xC0\xC1\"/>";
  files.insert(QStringLiteral("ARTICLE[1].xml"), big);
  files.insert(QStringLiteral("ARTICLE[2].xml"), QByteArray("<DATAPACKET/>"));
  files.insert(QStringLiteral("N_NZOK_GROUP[1].xml"), QByteArray());
  QDir().mkpath(folder);
  for (auto it = files.cbegin(); it != files.cend(); ++it) WriteFile(folder + it.key(), it.value());
  return files;
}

int Run(const QString& program, const QStringList& args, const QString& cwd = QString()) {
  QProcess p;
  if (!cwd.isEmpty()) p.setWorkingDirectory(cwd);
  p.start(program, args);
  p.waitForFinished(-1);
  return p.exitStatus() == QProcess::NormalExit ? p.exitCode() : -1;
}

// Writes a ZIP whose entries carry the given stored names (folders, "..",
// absolute paths); a name ending in "/" is a folder entry.
void WriteZipWithNames(const QString& zip, const QList<QPair<QByteArray, QByteArray>>& entries) {
  struct archive* a = archive_write_new();
  archive_write_set_format_zip(a);
  QVERIFY(archive_write_open_filename(a, QFile::encodeName(zip).constData()) == ARCHIVE_OK);
  for (const auto& [name, data] : entries) {
    struct archive_entry* e = archive_entry_new();
    archive_entry_set_pathname(e, name.constData());
    if (name.endsWith('/')) {
      archive_entry_set_filetype(e, AE_IFDIR);
      archive_entry_set_perm(e, 0755);
    } else {
      archive_entry_set_filetype(e, AE_IFREG);
      archive_entry_set_perm(e, 0644);
      archive_entry_set_size(e, data.size());
    }
    archive_write_header(a, e);
    if (!name.endsWith('/')) archive_write_data(a, data.constData(), data.size());
    archive_entry_free(e);
  }
  archive_write_close(a);
  archive_write_free(a);
}

// Writes an archive of the given format ("zip", "7zip", "tar", gzip-compressed) holding plain
// files under the stored names, in order.
QByteArray ArchiveBytes(const QString& format,
                        const QList<QPair<QByteArray, QByteArray>>& entries) {
  struct archive* a = archive_write_new();
  if (format == QLatin1String("zip"))
    archive_write_set_format_zip(a);
  else if (format == QLatin1String("7zip"))
    archive_write_set_format_7zip(a);
  else {
    archive_write_set_format_pax_restricted(a);
    archive_write_add_filter_gzip(a);
  }
  QByteArray out(64 << 20, '\0');
  size_t used = 0;
  archive_write_open_memory(a, out.data(), out.size(), &used);
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
  out.truncate(static_cast<qsizetype>(used));
  return out;
}

QPair<QByteArray, QByteArray> Entry(const QByteArray& name, const QByteArray& data) {
  return {name, data};
}

// Text that compresses poorly, so that a cut or a flipped byte lands inside
// the entry's compressed data.
QByteArray NoisyText(int size, quint32 seed) {
  QByteArray text;
  text.reserve(size);
  quint32 x = seed;
  while (text.size() < size) {
    x = x * 1103515245u + 12345u;
    text += char('A' + (x >> 16) % 26);
  }
  return text;
}

// The packet's own entries, as a generation stores them.
QList<QPair<QByteArray, QByteArray>> PacketEntries() {
  return {{"tables.descr", "{2.1.0.15}\r\nARTICLE\r\n"},
          {"ARTICLE[1].xml", NoisyText(100000, 1)},
          {"ARTICLE[2].xml", NoisyText(60000, 2)}};
}

// A stand-in for the rar program: records its arguments and working folder,
// then does the work with bsdtar, or fails as its "mode" file says.
void InstallRarScript(const QString& programFolder) {
  const QByteArray script =
      "#!/bin/sh\n"
      "here=$(dirname \"$0\")\n"
      "printf '%s\\n' \"$@\" > \"$here/args.txt\"\n"
      "pwd > \"$here/cwd.txt\"\n"
      "mode=$(cat \"$here/mode\" 2>/dev/null)\n"
      "[ \"$mode\" = fail ] && { echo 'cannot create archive' >&2; exit 3; }\n"
      "case \"$1\" in\n"
      "a) archive=\"$5\"; dir=\"${6%\\*.\\*}\"; cd \"$dir\" || exit 9\n"
      "   if [ \"$mode\" = drop ]; then set -- $(ls | grep -v tables.descr); else set -- *.*; fi\n"
      "   bsdtar --format zip -cf \"$archive\" \"$@\" || exit 8\n"
      "   rm -f -- *.* ;;\n"
      "e) bsdtar -xf \"$3\" -C \"$4\" || exit 7 ;;\n"
      "esac\n";
  WriteFile(programFolder + QStringLiteral("rar"), script);
  QFile::setPermissions(programFolder + QStringLiteral("rar"),
                        QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
}

}  // namespace

class TestArchiver : public QObject {
  Q_OBJECT

  QTemporaryDir FDir{QDir::tempPath() + QStringLiteral("/nompack arch XXXXXX")};
  QString FRoot;  // a fresh folder (with a space in its path) per test

 private slots:
  void init() {
    QVERIFY(FDir.isValid());
    FRoot = FDir.path() + QStringLiteral("/") + QString::fromLatin1(QTest::currentTestFunction()) +
            QStringLiteral(" case/");
    QDir(FRoot).removeRecursively();
    QVERIFY(QDir().mkpath(FRoot + QStringLiteral("program")));
  }

  void packsWithLibarchiveIntoZipReadableByStandardTools() {
    const QString folder = FRoot + QStringLiteral("nompack_fbdb_20240307-091502/");
    const auto files = FillPacketFolder(folder);
    TArchiver archiver(FRoot + QStringLiteral("program/"));
    QVERIFY(archiver.RarProgram().isEmpty());
    QString archive, error;
    QVERIFY2(archiver.PackPacketFolder(folder, archive, error), qPrintable(error));
    QCOMPARE(archive, FRoot + QStringLiteral("nompack_fbdb_20240307-091502.rar"));
    QVERIFY(error.isEmpty());
    // The folder stays, empty; the archive lies next to it under ".tmp".
    QVERIFY(QDir(folder).exists());
    QCOMPARE(Files(folder), QStringList());
    const QString tmp = archive + QStringLiteral(".tmp");
    const QByteArray head = ReadFile(tmp).left(10);
    QVERIFY(head.startsWith("PK\x03\x04"));
    QCOMPARE(int(head[8]), 8);  // deflate

    const QString out = FRoot + QStringLiteral("bsdtar/");
    QDir().mkpath(out);
    QCOMPARE(Run(QStringLiteral("bsdtar"), {QStringLiteral("-xf"), tmp}, out), 0);
    QCOMPARE(Files(out), QStringList(files.keys()));
    for (auto it = files.cbegin(); it != files.cend(); ++it)
      QCOMPARE(ReadFile(out + it.key()), it.value());
  }

  void renameRefusesToReplaceAnExistingPacket() {
    const QString folder = FRoot + QStringLiteral("nompack_mydb_20240307-091502/");
    FillPacketFolder(folder);
    TArchiver archiver(FRoot + QStringLiteral("program/"));
    QString archive, error, packet;
    QVERIFY(archiver.PackPacketFolder(folder, archive, error));
    const QString tmp = archive + QStringLiteral(".tmp");
    const QString final = FRoot + QStringLiteral("nompack_mydb_20240307-091502.mpd");
    WriteFile(final, "an earlier packet");

    QVERIFY(!archiver.RenamePacketArchive(archive, QStringLiteral(".mpd"), packet, error));
    QCOMPARE(packet, final);
    QVERIFY2(error.contains(final) && error.contains(tmp), qPrintable(error));
    QCOMPARE(ReadFile(final), QByteArray("an earlier packet"));
    QVERIFY(QFile::exists(tmp));

    QFile::remove(final);
    QVERIFY2(archiver.RenamePacketArchive(archive, QStringLiteral(".mpd"), packet, error),
             qPrintable(error));
    QVERIFY(error.isEmpty());
    QVERIFY(!QFile::exists(tmp));
    QVERIFY(ReadFile(final).startsWith("PK"));

    // Nothing to rename: said so, naming the missing file.
    QVERIFY(!archiver.RenamePacketArchive(archive, QStringLiteral(".fpd"), packet, error));
    QVERIFY2(error.contains(tmp), qPrintable(error));
  }

  void packRefusesWhatWouldLoseAPacket_data() {
    QTest::addColumn<bool>("leftoverTmp");
    QTest::newRow("an archive already at the .tmp name") << true;
    QTest::newRow("an empty packet folder") << false;
  }
  void packRefusesWhatWouldLoseAPacket() {
    QFETCH(bool, leftoverTmp);
    const QString folder = FRoot + QStringLiteral("nompack_fbdb_20240307-091502/");
    QDir().mkpath(folder);
    QMap<QString, QByteArray> files;
    if (leftoverTmp) {
      files = FillPacketFolder(folder);
      WriteFile(FRoot + QStringLiteral("nompack_fbdb_20240307-091502.rar.tmp"), "earlier");
    }
    TArchiver archiver(FRoot + QStringLiteral("program/"));
    QString archive, error;
    QVERIFY(!archiver.PackPacketFolder(folder, archive, error));
    QVERIFY(!error.isEmpty());
    QCOMPARE(archive, FRoot + QStringLiteral("nompack_fbdb_20240307-091502.rar"));
    QCOMPARE(Files(folder), QStringList(files.keys()));
    if (leftoverTmp) {
      QCOMPARE(ReadFile(archive + QStringLiteral(".tmp")), QByteArray("earlier"));
      QVERIFY(error.contains(archive + QStringLiteral(".tmp")));
    }
  }

  void packsThroughRarWithItsCommandLine() {
    const QString program = FRoot + QStringLiteral("program/");
    InstallRarScript(program);
    const QString folder = FRoot + QStringLiteral("nompack_fbdb_20240307-091502/");
    const auto files = FillPacketFolder(folder);
    TArchiver archiver(program);
    QCOMPARE(archiver.RarProgram(), program + QStringLiteral("rar"));
    QString archive, error;
    QVERIFY2(archiver.PackPacketFolder(folder, archive, error), qPrintable(error));
    const QString tmp = archive + QStringLiteral(".tmp");
    QCOMPARE(QString::fromUtf8(ReadFile(program + QStringLiteral("args.txt"))),
             QStringLiteral("a\n-df\n-m5\n-ep\n%1\n%2*.*\n").arg(tmp, folder));
    QCOMPARE(Files(folder), QStringList());
    QMap<QString, qint64> stored;
    QVERIFY2(TArchiver::ListArchive(tmp, stored, error), qPrintable(error));
    QCOMPARE(stored.keys(), files.keys());
  }

  // The archiver ran but the archive is missing or lacks a file: the folder
  // is the only copy of the export and must not be given up.
  void rarFailuresKeepThePacketFolder_data() {
    QTest::addColumn<QByteArray>("mode");
    QTest::addColumn<QString>("expected");
    QTest::newRow("exit code 3, no archive") << QByteArray("fail") << QStringLiteral("3");
    QTest::newRow("archive without a file") << QByteArray("drop") << QStringLiteral("tables.descr");
  }
  void rarFailuresKeepThePacketFolder() {
    QFETCH(QByteArray, mode);
    QFETCH(QString, expected);
    const QString program = FRoot + QStringLiteral("program/");
    InstallRarScript(program);
    WriteFile(program + QStringLiteral("mode"), mode);
    const QString folder = FRoot + QStringLiteral("nompack_fbdb_20240307-091502/");
    const auto files = FillPacketFolder(folder);
    TArchiver archiver(program);
    QString archive, error;
    QVERIFY(!archiver.PackPacketFolder(folder, archive, error));
    QVERIFY2(error.contains(expected), qPrintable(error));
    if (mode == "fail") QCOMPARE(Files(folder), QStringList(files.keys()));
  }

  void extractsEveryFormatUnderBareNames_data() {
    QTest::addColumn<QString>("suffix");
    QTest::addColumn<QStringList>("bsdtarOptions");
    QTest::newRow("zip") << QStringLiteral("x.zip")
                         << QStringList{QStringLiteral("--format"), QStringLiteral("zip")};
    QTest::newRow("7z") << QStringLiteral("x.7z")
                        << QStringList{QStringLiteral("--format"), QStringLiteral("7zip")};
    QTest::newRow("tar.gz") << QStringLiteral("x.tar.gz") << QStringList{QStringLiteral("-z")};
  }
  void extractsEveryFormatUnderBareNames() {
    QFETCH(QString, suffix);
    QFETCH(QStringList, bsdtarOptions);
    // Stored with a folder part, as an archive made elsewhere may be.
    const QString source = FRoot + QStringLiteral("src/");
    const auto files = FillPacketFolder(source + QStringLiteral("inner/"));
    const QString packet = FRoot + suffix;
    QCOMPARE(Run(QStringLiteral("bsdtar"),
                 QStringList{QStringLiteral("-cf"), packet} + bsdtarOptions +
                     QStringList{QStringLiteral("inner")},
                 source),
             0);
    const QString unpack = FRoot + QStringLiteral("unpack/");
    QDir().mkpath(unpack);
    WriteFile(unpack + QStringLiteral("ARTICLE[2].xml"), "stale copy");
    TArchiver archiver(FRoot + QStringLiteral("program/"));
    QString error;
    QVERIFY2(archiver.ExtractPacket(packet, unpack, error), qPrintable(error));
    QCOMPARE(Files(unpack), QStringList(files.keys()));
    for (auto it = files.cbegin(); it != files.cend(); ++it)
      QCOMPARE(ReadFile(unpack + it.key()), it.value());
    QCOMPARE(QDir(unpack).entryList(QDir::Dirs | QDir::NoDotAndDotDot), QStringList());
  }

  void extractionNeverLeavesTheUnpackFolder() {
    const QString packet = FRoot + QStringLiteral("evil.zip");
    const QString outside = FDir.path() + QStringLiteral("/outside[1].xml");
    QFile::remove(outside);
    WriteZipWithNames(packet, {{"tables.descr", "{1.0.0.0}\r\n"},
                               {"sub/", ""},
                               {"sub/deeper/A[1].xml", "nested"},
                               {"../B[1].xml", "dotdot"},
                               {"../../escape[1].xml", "escape"},
                               {QFile::encodeName(outside), "absolute"},
                               {"..\\C[1].xml", "backslash"},
                               {"..", "only dots"},
                               {"./", ""}});
    const QString unpack = FRoot + QStringLiteral("unpack/");  // made when missing
    TArchiver archiver(FRoot + QStringLiteral("program/"));
    QString error;
    QVERIFY2(archiver.ExtractPacket(packet, unpack, error), qPrintable(error));
    QCOMPARE(Files(unpack),
             (QStringList{QStringLiteral("A[1].xml"), QStringLiteral("B[1].xml"),
                          QStringLiteral("C[1].xml"), QStringLiteral("escape[1].xml"),
                          QStringLiteral("outside[1].xml"), QStringLiteral("tables.descr")}));
    QCOMPARE(ReadFile(unpack + QStringLiteral("outside[1].xml")), QByteArray("absolute"));
    QCOMPARE(ReadFile(unpack + QStringLiteral("escape[1].xml")), QByteArray("escape"));
    QCOMPARE(ReadFile(unpack + QStringLiteral("A[1].xml")), QByteArray("nested"));
    QVERIFY(!QFile::exists(outside));
    QVERIFY(!QFile::exists(FRoot + QStringLiteral("B[1].xml")));
    QCOMPARE(QDir(unpack).entryList(QDir::Dirs | QDir::NoDotAndDotDot), QStringList());
  }

  void extractionFailuresAreReported_data() {
    QTest::addColumn<QString>("kind");
    QTest::newRow("missing file") << QStringLiteral("missing");
    QTest::newRow("not an archive") << QStringLiteral("garbage");
    QTest::newRow("truncated") << QStringLiteral("truncated");
    QTest::newRow("damaged data") << QStringLiteral("crc");
  }
  void extractionFailuresAreReported() {
    QFETCH(QString, kind);
    const QString packet = FRoot + QStringLiteral("p.fpd");
    if (kind != QLatin1String("missing")) {
      QByteArray data;
      if (kind == QLatin1String("garbage")) {
        data = QByteArray(4000, '\x17');
      } else {
        const QString folder = FRoot + QStringLiteral("nompack_fbdb_20240307-091502/");
        FillPacketFolder(folder);
        QString archive, error;
        QVERIFY(TArchiver(FRoot).PackPacketFolder(folder, archive, error));
        data = ReadFile(archive + QStringLiteral(".tmp"));
        if (kind == QLatin1String("truncated"))
          data.truncate(data.size() / 2);
        else
          data[data.indexOf("ARTICLE[1].xml") + 40] ^= 0x55;  // inside its deflate stream
      }
      WriteFile(packet, data);
    }
    TArchiver archiver(FRoot + QStringLiteral("program/"));
    QString error;
    QVERIFY(!archiver.ExtractPacket(packet, FRoot + QStringLiteral("unpack/"), error));
    QVERIFY2(error.contains(packet), qPrintable(error));
  }

  // Archives that must not be unpacked: nothing of them reaches the disk,
  // and the message names what is wrong.
  void extractionRefusesBeforeWriting_data() {
    QTest::addColumn<QString>("format");
    QTest::addColumn<QString>("defect");
    QTest::addColumn<QString>("expected");
    const QStringList formats{QStringLiteral("zip"), QStringLiteral("7zip"), QStringLiteral("tar")};
    for (const QString& format : formats) {
      const QByteArray f = format.toLatin1();
      QTest::addRow("%s: two descriptors", f.constData()) << format << "two descriptors"
                                                          << "съдържа 2 файла \"tables.descr\"";
      QTest::addRow("%s: a descriptor in a folder besides", f.constData())
          << format << "descriptor in a folder"
          << "съдържа 2 файла \"tables.descr\"";
      QTest::addRow("%s: no descriptor", f.constData())
          << format << "no descriptor"
          << "Не е открит файл с описание на пакетите!";
      QTest::addRow("%s: one name twice", f.constData())
          << format << "same name"
          << "\"ARTICLE[1].xml\" и \"article[1].XML\"";
      QTest::addRow("%s: cut inside an entry", f.constData()) << format << "cut inside"
                                                              << "не може да бъде разархивиран";
    }
    QTest::newRow("zip: cut at an entry boundary") << "zip"
                                                   << "cut at boundary"
                                                   << "не може да бъде разархивиран";
    QTest::newRow("zip: a damaged entry") << "zip"
                                          << "damaged"
                                          << "ARTICLE[1].xml";
    QTest::newRow("7zip: a damaged entry") << "7zip"
                                           << "damaged"
                                           << "не може да бъде разархивиран";
  }
  void extractionRefusesBeforeWriting() {
    QFETCH(QString, format);
    QFETCH(QString, defect);
    QFETCH(QString, expected);
    auto entries = PacketEntries();
    if (defect == QLatin1String("two descriptors"))
      entries.append(Entry("tables.descr", "{9.9.9.9}\r\nPARCEL\r\n"));
    if (defect == QLatin1String("descriptor in a folder"))
      entries.prepend(Entry("old/tables.descr", "{1}\r\nPARCEL\r\n"));
    if (defect == QLatin1String("no descriptor")) entries.removeFirst();
    if (defect == QLatin1String("same name"))
      entries.append(Entry("x/article[1].XML", "other rows"));
    QByteArray data = ArchiveBytes(format, entries);
    QVERIFY(!data.isEmpty());
    if (defect == QLatin1String("cut inside")) {
      data.truncate(data.size() / 2);
    } else if (defect == QLatin1String("cut at boundary")) {
      // Only the first entries stay, each of them whole: the cut falls on
      // the local header of the last one.
      const qsizetype last = data.lastIndexOf("PK\x03\x04");
      QVERIFY(last > 0);
      data.truncate(last);
    } else if (defect == QLatin1String("damaged")) {
      const qsizetype at =
          format == QLatin1String("zip") ? data.indexOf("ARTICLE[1].xml") + 5000 : data.size() / 3;
      data[at] = char(data[at] ^ 0x55);
    }
    const QString packet = FRoot + QStringLiteral("p.mpd");
    WriteFile(packet, data);
    const QString unpack = FRoot + QStringLiteral("unpack/");
    TArchiver archiver(FRoot + QStringLiteral("program/"));
    QString error;
    QVERIFY(!archiver.ExtractPacket(packet, unpack, error));
    QVERIFY2(error.contains(expected), qPrintable(error));
    QVERIFY2(error.contains(packet), qPrintable(error));
    QCOMPARE(Files(unpack), QStringList());
  }

  // Only the packet's own files are written: a large file beside the chunks
  // is never unpacked, and neither is it handed to the rar program, which
  // would unpack everything.
  void extractionWritesOnlyThePacketsFiles_data() {
    QTest::addColumn<QString>("format");
    QTest::addColumn<bool>("withRar");
    QTest::newRow("zip") << "zip" << false;
    QTest::newRow("7zip") << "7zip" << false;
    QTest::newRow("tar") << "tar" << false;
    QTest::newRow("zip, rar in the program folder") << "zip" << true;
  }
  void extractionWritesOnlyThePacketsFiles() {
    QFETCH(QString, format);
    QFETCH(bool, withRar);
    auto entries = PacketEntries();
    entries.insert(1, Entry("filler.bin", QByteArray(32 << 20, '\0')));
    entries.append(Entry("packet.manifest", "NOMPACK-MANIFEST 1\r\n"));
    entries.append(Entry("run me.sh", "#!/bin/sh\n"));
    const QString packet = FRoot + QStringLiteral("p.mpd");
    WriteFile(packet, ArchiveBytes(format, entries));
    QVERIFY(QFileInfo(packet).size() < (1 << 20));
    const QString program = FRoot + QStringLiteral("program/");
    if (withRar) InstallRarScript(program);
    const QString unpack = FRoot + QStringLiteral("unpack/");
    QString error;
    QVERIFY2(TArchiver(program).ExtractPacket(packet, unpack, error), qPrintable(error));
    QCOMPARE(Files(unpack),
             (QStringList{QStringLiteral("ARTICLE[1].xml"), QStringLiteral("ARTICLE[2].xml"),
                          QStringLiteral("packet.manifest"), QStringLiteral("tables.descr")}));
    QCOMPARE(ReadFile(unpack + QStringLiteral("ARTICLE[2].xml")), entries.at(3).second);
    QVERIFY(!QFile::exists(program + QStringLiteral("args.txt")));
  }

  // Every packet entry reaches the unpack folder with the packet's bytes and
  // is handed to the caller once, in archive order, with the same bytes;
  // more than the writer queues at once (16 MiB) still comes out whole.
  void extractionHandsEveryEntryAsWritten_data() {
    QTest::addColumn<QString>("format");
    QTest::newRow("zip") << "zip";
    QTest::newRow("tar") << "tar";
  }
  void extractionHandsEveryEntryAsWritten() {
    QFETCH(QString, format);
    auto entries = PacketEntries();
    entries.insert(1, Entry("notes.txt", "not the packet's"));
    for (int i = 1; i <= 20; ++i)
      entries.append(Entry("PARCEL[" + QByteArray::number(i) + "].xml",
                           NoisyText(i % 5 == 0 ? 0 : (1 << 20) + i, quint32(i))));
    const QString packet = FRoot + QStringLiteral("p.mpd");
    WriteFile(packet, ArchiveBytes(format, entries));
    const QString unpack = FRoot + QStringLiteral("unpack/");
    QList<QPair<QString, QByteArray>> handed;
    QStringList notOnDisk;
    QString error;
    QVERIFY2(TArchiver(FRoot + QStringLiteral("program/"))
                 .ExtractPacket(packet, unpack, error,
                                [&](const QString& name, const QByteArray& bytes) {
                                  handed.append({name, bytes});
                                  // Handed once its file is written whole.
                                  if (ReadFile(unpack + name) != bytes) notOnDisk.append(name);
                                }),
             qPrintable(error));
    QCOMPARE(notOnDisk, QStringList());
    entries.removeAt(1);
    QCOMPARE(handed.size(), entries.size());
    QStringList names;
    for (int i = 0; i < entries.size(); ++i) {
      const QString name = QString::fromLatin1(entries[i].first);
      names.append(name);
      QCOMPARE(handed[i].first, name);
      QVERIFY2(handed[i].second == entries[i].second, qPrintable(name));
      QVERIFY2(ReadFile(unpack + name) == entries[i].second, qPrintable(name));
    }
    names.sort();
    QCOMPARE(Files(unpack), names);
  }

  // Read on several threads, every plain entry comes once, whole, to the
  // part whose turn its place in the archive is, with its place; a folder
  // entry to nobody. A tar has no directory to pass over entries with: it
  // is read by one part.
  void readsEntriesInParts_data() {
    QTest::addColumn<QString>("format");
    QTest::addColumn<int>("parts");
    for (const char* format : {"zip", "tar"})
      for (int parts : {1, 2, 3}) QTest::addRow("%s, %d parts", format, parts) << format << parts;
  }
  void readsEntriesInParts() {
    QFETCH(QString, format);
    QFETCH(int, parts);
    QList<QPair<QByteArray, QByteArray>> entries;
    for (int i = 1; i <= 11; ++i)
      entries.append(Entry("PARCEL[" + QByteArray::number(i) + "].xml",
                           NoisyText(i == 4 ? 0 : 70000 + i, quint32(i))));
    const QString archive = FRoot + QStringLiteral("parts.zip");
    if (format == QLatin1String("zip")) {
      auto withFolder = entries;
      withFolder.insert(2, Entry("folder/", QByteArray()));
      WriteZipWithNames(archive, withFolder);
    } else {
      WriteFile(archive, ArchiveBytes(format, entries));
    }
    std::mutex mutex;
    QMap<qint64, QPair<QString, QByteArray>> read;
    QMap<int, QList<qint64>> byPart;
    QString error;
    QVERIFY2(
        TArchiver::ReadEntriesInParts(
            archive, parts,
            [&](int part, qint64 index, const QString& name, const QByteArray& bytes, QString&) {
              const std::lock_guard<std::mutex> lock(mutex);
              if (read.contains(index)) return false;
              read.insert(index, {name, bytes});
              byPart[part].append(index);
              return true;
            },
            error),
        qPrintable(error));
    QCOMPARE(read.size(), entries.size());
    int i = 0;
    for (auto it = read.cbegin(); it != read.cend(); ++it, ++i) {
      QCOMPARE(it->first, QString::fromLatin1(entries[i].first));
      QVERIFY2(it->second == entries[i].second, qPrintable(it->first));
    }
    const bool split = format == QLatin1String("zip") && parts > 1;
    QCOMPARE(byPart.size(), split ? parts : 1);
    for (auto it = byPart.cbegin(); it != byPart.cend(); ++it) {
      QVERIFY(std::is_sorted(it->cbegin(), it->cend()));
      if (split)
        for (qint64 index : *it) QCOMPARE(index % parts, qint64(it.key()));
    }
  }

  // Damaged entries in several parts: the error is the earliest entry's,
  // however the entries were shared out.
  void readInPartsNamesTheEarliestDamage_data() {
    QTest::addColumn<int>("parts");
    for (int parts : {1, 2, 3}) QTest::addRow("%d parts", parts) << parts;
  }
  void readInPartsNamesTheEarliestDamage() {
    QFETCH(int, parts);
    QList<QPair<QByteArray, QByteArray>> entries;
    for (int i = 1; i <= 8; ++i)
      entries.append(Entry("PARCEL[" + QByteArray::number(i) + "].xml", NoisyText(60000, i)));
    QByteArray data = ArchiveBytes(QStringLiteral("zip"), entries);
    for (const char* name : {"PARCEL[6].xml", "PARCEL[5].xml"})
      data[data.indexOf(name) + 400] ^= 0x55;  // inside its deflate stream
    const QString archive = FRoot + QStringLiteral("damaged.zip");
    WriteFile(archive, data);
    QString error;
    QVERIFY(!TArchiver::ReadEntriesInParts(
        archive, parts,
        [](int, qint64, const QString&, const QByteArray&, QString&) { return true; }, error));
    QVERIFY2(error.startsWith(QStringLiteral("PARCEL[5].xml: ")), qPrintable(error));
  }

  // A file that cannot be written, or an entry whose check fails, ends the
  // extraction with the file's name (and the check's message); the files
  // before it are on disk whole, nothing after it is handed or written, and
  // the writing thread has ended when the call returns.
  void extractionFailureEndsAtTheEntry_data() {
    QTest::addColumn<bool>("checkFails");
    QTest::newRow("file cannot be written") << false;
    QTest::newRow("check fails") << true;
  }
  void extractionFailureEndsAtTheEntry() {
    QFETCH(bool, checkFails);
    auto entries = PacketEntries();
    entries.append(Entry("ARTICLE[3].xml", NoisyText(5000, 3)));
    const QString packet = FRoot + QStringLiteral("p.mpd");
    WriteFile(packet, ArchiveBytes(QStringLiteral("zip"), entries));
    const QString unpack = FRoot + QStringLiteral("unpack/");
    const QString second = unpack + QStringLiteral("ARTICLE[2].xml");
    // A folder where the second chunk's file should go.
    if (!checkFails) QVERIFY(QDir().mkpath(second + QStringLiteral("/inside")));
    QStringList handed;
    QString error;
    QVERIFY(!TArchiver(FRoot + QStringLiteral("program/"))
                 .ExtractPacket(packet, unpack, error, [&](const QString& name, const QByteArray&) {
                   handed.append(name);
                   if (checkFails && name == QStringLiteral("ARTICLE[2].xml"))
                     throw ENompackError(QStringLiteral("the check failed"),
                                         ENompackError::Kind::File);
                 }));
    QVERIFY2(error.contains(packet) && error.contains(second), qPrintable(error));
    if (checkFails) {
      QVERIFY2(error.contains(second + QStringLiteral(": the check failed")), qPrintable(error));
      QCOMPARE(ReadFile(second), entries[2].second);
    }
    QCOMPARE(handed.last(),
             checkFails ? QStringLiteral("ARTICLE[2].xml") : QStringLiteral("ARTICLE[1].xml"));
    QCOMPARE(ReadFile(unpack + QStringLiteral("tables.descr")), entries[0].second);
    QCOMPARE(ReadFile(unpack + QStringLiteral("ARTICLE[1].xml")), entries[1].second);
    QVERIFY(!QFile::exists(unpack + QStringLiteral("ARTICLE[3].xml")));
  }

  void extractsThroughRarWithItsCommandLine() {
    const QString program = FRoot + QStringLiteral("program/");
    const QString folder = FRoot + QStringLiteral("nompack_fbdb_20240307-091502/");
    const auto files = FillPacketFolder(folder);
    QString archive, error, packet;
    TArchiver plain(FRoot);
    QVERIFY(plain.PackPacketFolder(folder, archive, error));
    QVERIFY(plain.RenamePacketArchive(archive, QStringLiteral(".fpd"), packet, error));
    InstallRarScript(program);
    const QString unpack = FRoot + QStringLiteral("nompack_fbdb_20240307-091502 unpacked/");
    QDir().mkpath(unpack);
    TArchiver archiver(program);
    QVERIFY2(archiver.ExtractPacket(packet, unpack, error), qPrintable(error));
    QCOMPARE(QString::fromUtf8(ReadFile(program + QStringLiteral("args.txt"))),
             QStringLiteral("e\n-o+\n%1\n%2\n").arg(packet, unpack));
    QCOMPARE(QString::fromUtf8(ReadFile(program + QStringLiteral("cwd.txt"))).trimmed() +
                 QStringLiteral("/"),
             unpack);
    QCOMPARE(Files(unpack), QStringList(files.keys()));

    // A rar program that cannot read the packet: libarchive still does.
    WriteFile(program + QStringLiteral("mode"), "fail");
    QDir(unpack).removeRecursively();
    QVERIFY2(archiver.ExtractPacket(packet, unpack, error), qPrintable(error));
    QCOMPARE(Files(unpack), QStringList(files.keys()));
  }

  // A folder unpacked earlier is reused only when it holds the packet's own
  // files at their sizes; a manifest beside them vouches for changed chunks.
  void reusedFolderAgainstTheListing_data() {
    QTest::addColumn<QString>("change");
    QTest::addColumn<bool>("manifest");
    QTest::addColumn<QString>("error");
    QTest::newRow("as extracted") << "" << false << "";
    QTest::newRow("as extracted, with manifest") << "" << true << "";
    QTest::newRow("a chunk missing")
        << "remove ARTICLE[2].xml" << false << "липсва файлът \"ARTICLE[2].xml\"";
    QTest::newRow("the manifest missing")
        << "remove packet.manifest" << true << "липсва файлът \"packet.manifest\"";
    QTest::newRow("a chunk cut short")
        << "cut ARTICLE[1].xml" << false << "Файлът \"ARTICLE[1].xml\" в папката";
    QTest::newRow("a chunk changed, with manifest") << "cut ARTICLE[1].xml" << true << "";
    QTest::newRow("the descriptor cut short, with manifest")
        << "cut tables.descr" << true << "Файлът \"tables.descr\" в папката";
    QTest::newRow("a chunk the packet lacks")
        << "add ARTICLE[3].xml" << false << "съдържа файл \"ARTICLE[3].xml\", който не е от пакета";
    QTest::newRow("no descriptor: left to the run") << "remove tables.descr" << false << "";
    QTest::newRow("a file of the user") << "add notes.txt" << false << "";
  }
  void reusedFolderAgainstTheListing() {
    QFETCH(QString, change);
    QFETCH(bool, manifest);
    QFETCH(QString, error);
    const QString folder = FRoot + QStringLiteral("files/");
    FillPacketFolder(folder);
    if (manifest) WriteFile(folder + QStringLiteral("packet.manifest"), "NOMPACK-MANIFEST 1\r\n");
    const QString packet = FRoot + QStringLiteral("p.fpd");
    QCOMPARE(Run(QStringLiteral("bsdtar"),
                 QStringList{QStringLiteral("--format"), QStringLiteral("zip"),
                             QStringLiteral("-cf"), packet} +
                     Files(folder),
                 folder),
             0);
    const QString unpack = FRoot + QStringLiteral("p/");
    QString extractError;
    QVERIFY2(TArchiver(QString()).ExtractPacket(packet, unpack, extractError),
             qPrintable(extractError));
    const QString verb = change.section(QLatin1Char(' '), 0, 0);
    const QString file = unpack + change.section(QLatin1Char(' '), 1);
    if (verb == QLatin1String("remove")) QVERIFY(QFile::remove(file));
    if (verb == QLatin1String("add")) WriteFile(file, "<DATAPACKET/>");
    if (verb == QLatin1String("cut")) QVERIFY(QFile(file).resize(QFileInfo(file).size() - 3));
    const QString result = ReusedFolderError(packet, unpack);
    if (error.isEmpty())
      QCOMPARE(result, QString());
    else
      QVERIFY2(result.contains(error), qPrintable(result));
  }

  // A packet that cannot be read to its end cannot vouch for the folder.
  void reusedFolderOfAnUnreadablePacket() {
    const QString unpack = FRoot + QStringLiteral("p/");
    QDir().mkpath(unpack);
    WriteFile(unpack + QStringLiteral("tables.descr"), "{1}\r\nARTICLE\r\n");
    const QString packet = FRoot + QStringLiteral("p.fpd");
    WriteFile(packet, "PK\x03\x04 cut short");
    QVERIFY(ReusedFolderError(packet, unpack).contains(QStringLiteral("не може да бъде прочетен")));
  }
};

QTEST_GUILESS_MAIN(TestArchiver)
#include "test_archiver.moc"
