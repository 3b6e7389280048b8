// The packer that packs a generation's chunks beside the export: the
// archive against what was handed over, no chunk file in the folder on the
// way, the chunk files back in the folder whenever the run ends without a
// packet (a failed export, a failed packing, an archive that reads back
// wrong), a stop, and that its thread is gone whatever way it ends.
#include <archive.h>
#include <archive_entry.h>

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QtTest>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <mutex>
#include <thread>

#include "Archiver.h"
#include "ClientDataSet.h"
#include "NompackError.h"
#include "PacketManifest.h"
#include "PacketPacker.h"
#include "ZipWriter.h"

namespace {

// The threads of this process now.
int ThreadCount() {
  return int(
      QDir(QStringLiteral("/proc/self/task")).entryList(QDir::Dirs | QDir::NoDotAndDotDot).size());
}

QByteArray ReadFile(const QString& path) {
  QFile f(path);
  return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray("<missing>");
}

void WriteFile(const QString& path, const QByteArray& data) {
  QFile f(path);
  QVERIFY2(f.open(QIODevice::WriteOnly | QIODevice::Truncate), qPrintable(path));
  f.write(data);
}

QStringList Files(const QString& folder) {
  return QDir(folder).entryList(QDir::Files | QDir::Hidden, QDir::Name);
}

// Every entry of a ZIP with its bytes, in archive order; empty when it does
// not open.
QList<QPair<QString, QByteArray>> ZipEntries(const QString& zip) {
  QList<QPair<QString, QByteArray>> entries;
  struct archive* a = archive_read_new();
  archive_read_support_format_zip_seekable(a);
  if (archive_read_open_filename(a, QFile::encodeName(zip).constData(), 65536) == ARCHIVE_OK) {
    struct archive_entry* e = nullptr;
    while (archive_read_next_header(a, &e) == ARCHIVE_OK) {
      QByteArray data;
      char buffer[65536];
      la_ssize_t n = 0;
      while ((n = archive_read_data(a, buffer, sizeof buffer)) > 0) data.append(buffer, n);
      entries.append({QString::fromUtf8(archive_entry_pathname_utf8(e)), data});
    }
  }
  archive_read_free(a);
  return entries;
}

// Chunk bytes that deflate poorly and differ per chunk.
QByteArray ChunkBytes(int n, int size) {
  QByteArray data;
  data.reserve(size);
  quint32 x = quint32(n) * 2654435761u + 1;
  while (data.size() < size) {
    x = x * 1103515245u + 12345u;
    data += char('A' + (x >> 16) % 26);
  }
  return data;
}

QString ChunkName(int n) {
  return QStringLiteral("ARTICLE[%1].xml").arg(n);
}

QString Context(int n) {
  return QStringLiteral("exporting ARTICLE, chunk %1").arg(n);
}

// Hands chunk n over as the export does, with the checksum of its bytes.
void Put(TPacketPacker& packer, const QString& folder, int n, const QByteArray& bytes) {
  packer.PutChunk(folder, ChunkName(n), bytes, BytesChecksum(bytes), Context(n));
}

// Packing fails from here on: a file of the folder that is not there.
void BreakPacking(TPacketPacker& packer) {
  packer.PackFile(QStringLiteral("not there.txt"));
}

// Writes `entries` as the ZIP `zip`, replacing it.
bool RewriteZip(const QString& zip, const QList<QPair<QString, QByteArray>>& entries) {
  TZipWriter writer;
  QString error;
  if (!writer.Open(zip, error)) return false;
  for (const auto& [name, bytes] : entries)
    if (!writer.AddEntry(name, bytes, 0, error)) return false;
  return writer.Close(error);
}

// A writer that holds the chunk of one name until released.
class TGate {
 public:
  void WaitAt(const QString& path, const QString& name) {
    if (!path.endsWith(name)) return;
    std::unique_lock lock(FMutex);
    FReached = true;
    FChanged.notify_all();
    FChanged.wait(lock, [this] { return FOpen; });
  }
  bool WaitReached() {
    std::unique_lock lock(FMutex);
    return FChanged.wait_for(lock, std::chrono::seconds(10), [this] { return FReached; });
  }
  void Open() {
    std::lock_guard lock(FMutex);
    FOpen = true;
    FChanged.notify_all();
  }

 private:
  std::mutex FMutex;
  std::condition_variable FChanged;
  bool FReached = false, FOpen = false;
};

}  // namespace

class TestPacketPacker : public QObject {
  Q_OBJECT

  QTemporaryDir FDir{QDir::tempPath() + QStringLiteral("/nompack packer XXXXXX")};
  QString FFolder;  // a fresh packet folder (with a space in its path) per test
  QString FTmp;
  int FThreadsBefore = 0;

 private slots:
  void init() {
    QVERIFY(FDir.isValid());
    static int n = 0;
    FFolder = FDir.path() + QStringLiteral("/case %1/nompack_mydb_20240307-091502/").arg(++n);
    QVERIFY(QDir().mkpath(FFolder));
    FTmp = FFolder.chopped(1) + QStringLiteral(".rar.tmp");
    FThreadsBefore = ThreadCount();
  }
  void cleanup() {
    // No thread outlives its packer.
    QCOMPARE(ThreadCount(), FThreadsBefore);
  }

  // The archive holds exactly the folder's files with their bytes: the
  // descriptor, the chunks in the order handed over (more than the queue
  // holds, one larger than its byte limit) and what else the folder got.
  void packsTheFolderWhole_data() {
    QTest::addColumn<int>("chunks");
    QTest::addColumn<int>("chunkSize");
    QTest::addColumn<bool>("stranger");
    QTest::newRow("descriptor only") << 0 << 0 << false;
    QTest::newRow("one empty chunk") << 1 << 0 << false;
    QTest::newRow("more chunks than the queue holds") << 40 << 30000 << false;
    QTest::newRow("chunks larger than the queue's bytes") << 3 << (9 << 20) << false;
    QTest::newRow("a file put into the folder meanwhile") << 12 << 5000 << true;
  }
  void packsTheFolderWhole() {
    QFETCH(int, chunks);
    QFETCH(int, chunkSize);
    QFETCH(bool, stranger);
    QList<QPair<QString, QByteArray>> expected;
    {
      TPacketPacker packer(FFolder, FTmp);
      QString error;
      QVERIFY2(packer.Start(error), qPrintable(error));
      QCOMPARE(ThreadCount(), FThreadsBefore + 1);  // the packing
      const QByteArray descr("{2.1.0.15}\r\nARTICLE\r\n");
      WriteFile(FFolder + QStringLiteral("tables.descr"), descr);
      packer.PackFile(QStringLiteral("tables.descr"));
      expected.append({QStringLiteral("tables.descr"), descr});
      for (int n = 1; n <= chunks; ++n) {
        const QByteArray bytes = ChunkBytes(n, chunkSize);
        Put(packer, FFolder, n, bytes);
        expected.append({ChunkName(n), bytes});
        if (stranger && n == chunks / 2) {
          WriteFile(FFolder + QStringLiteral("notes.txt"), "left by the technician");
          expected.append({QStringLiteral("notes.txt"), "left by the technician"});
        }
      }
      packer.Flush();
      // The chunks are in the archive only: none became a file.
      QStringList inFolder{QStringLiteral("tables.descr")};
      if (stranger && chunks > 0) inFolder.prepend(QStringLiteral("notes.txt"));
      QCOMPARE(Files(FFolder), inFolder);
      QVERIFY2(packer.Finish(error), qPrintable(error));
    }
    QCOMPARE(Files(FFolder), QStringList());
    QVERIFY(QDir(FFolder).exists());
    QList<QPair<QString, QByteArray>> stored = ZipEntries(FTmp);
    if (stranger) {
      // Packed at the end, after what the queue brought.
      QCOMPARE(stored.last().first, QStringLiteral("notes.txt"));
      expected.removeIf([](const auto& e) { return e.first == QLatin1String("notes.txt"); });
      expected.append({QStringLiteral("notes.txt"), "left by the technician"});
    }
    QCOMPARE(stored.size(), expected.size());
    for (int i = 0; i < expected.size(); ++i) {
      QCOMPARE(stored.at(i).first, expected.at(i).first);
      QVERIFY2(stored.at(i).second == expected.at(i).second, qPrintable(expected.at(i).first));
    }
  }

  // Once packing failed the chunks are written as files instead. One that
  // cannot be written: the export's attempts are made on the packer's
  // thread; the last failure reaches the export with the chunk's context; no
  // later chunk is written; the archive goes.
  void chunkWriteFailure_data() {
    QTest::addColumn<int>("failures");
    QTest::addColumn<bool>("throwsAtFlush");  // else at a later chunk
    QTest::newRow("ten failures, then written") << 10 << false;
    QTest::newRow("eleven failures, seen at a later chunk") << 11 << false;
    QTest::newRow("eleven failures, seen at the flush") << 11 << true;
  }
  void chunkWriteFailure() {
    QFETCH(int, failures);
    QFETCH(bool, throwsAtFlush);
    std::atomic<int> attempts{0};
    TPacketPacker packer(FFolder, FTmp);
    packer.SetFileWriter([&](const QString& path, const QByteArray& bytes) {
      if (path.endsWith(ChunkName(3)) && ++attempts <= failures)
        throw ENompackError(QStringLiteral("Cannot create file \"%1\". Disk busy").arg(path),
                            ENompackError::Kind::File)
            .AddContext(QStringLiteral("attempt %1").arg(attempts.load()));
      TClientDataSet::WriteWorkFile(path, bytes);
    });
    QString error;
    QVERIFY2(packer.Start(error), qPrintable(error));
    BreakPacking(packer);
    const int put = throwsAtFlush ? 3 : 200;
    bool threw = false;
    try {
      for (int n = 1; n <= put; ++n) Put(packer, FFolder, n, ChunkBytes(n, 2000));
      packer.Flush();
    } catch (const ENompackError& e) {
      threw = true;
      QCOMPARE(e.Message(),
               QStringLiteral("Cannot create file \"%1\". Disk busy").arg(FFolder + ChunkName(3)));
      QCOMPARE(e.ErrorKind(), ENompackError::Kind::File);
      QCOMPARE(e.Context(), (QStringList{QStringLiteral("attempt 11"), Context(3)}));
    }
    QCOMPARE(threw, failures >= 11);
    QCOMPARE(attempts.load(), std::min(failures + 1, 11));
    if (!threw) {
      // Every chunk is a file; the packing's failure is Finish's.
      QVERIFY(!packer.Finish(error));
      QVERIFY2(error.contains(QStringLiteral("not there.txt")), qPrintable(error));
      QVERIFY(!QFile::exists(FTmp));
      QCOMPARE(Files(FFolder).size(), put);
      QCOMPARE(ReadFile(FFolder + ChunkName(put)), ChunkBytes(put, 2000));
      QVERIFY2(packer.KeptText().contains(FFolder), qPrintable(packer.KeptText()));
      return;
    }
    // As the run leaves on the error: the folder keeps what was written.
    QVERIFY(packer.KeepChunkFiles());
    QVERIFY(!QFile::exists(FTmp));
    QCOMPARE(Files(FFolder), (QStringList{ChunkName(1), ChunkName(2)}));
    // A packer that failed neither finishes nor takes more.
    QVERIFY(!packer.Finish(error));
    QVERIFY_THROWS_EXCEPTION(ENompackError, Put(packer, FFolder, 9, QByteArray("x")));
  }

  // The run leaves while a chunk is being written (packing failed): a stop
  // drops what is queued, an error writes it first (the folder keeps every
  // chunk the export made); either way the archive goes and the thread is
  // joined.
  void leavingWhileTheWorkerIsBusy_data() {
    QTest::addColumn<bool>("writeQueued");
    QTest::newRow("stop") << false;
    QTest::newRow("error") << true;
  }
  void leavingWhileTheWorkerIsBusy() {
    QFETCH(bool, writeQueued);
    TGate gate;
    TPacketPacker packer(FFolder, FTmp);
    packer.SetFileWriter([&](const QString& path, const QByteArray& bytes) {
      gate.WaitAt(path, ChunkName(2));
      TClientDataSet::WriteWorkFile(path, bytes);
    });
    QString error;
    QVERIFY2(packer.Start(error), qPrintable(error));
    BreakPacking(packer);
    for (int n = 1; n <= 6; ++n) Put(packer, FFolder, n, ChunkBytes(n, 1000));
    QVERIFY(gate.WaitReached());
    std::thread opener([&] {
      std::this_thread::sleep_for(std::chrono::milliseconds(100));
      gate.Open();
    });
    if (writeQueued)
      QVERIFY(packer.KeepChunkFiles());
    else
      packer.Abandon();
    opener.join();
    QVERIFY(!QFile::exists(FTmp));
    QStringList expected{ChunkName(1), ChunkName(2)};
    if (writeQueued)
      expected += QStringList{ChunkName(3), ChunkName(4), ChunkName(5), ChunkName(6)};
    expected.sort();
    QCOMPARE(Files(FFolder), expected);
  }

  // Packing failures are no export failures: the chunks handed over end up
  // as files in the folder, byte for byte, beside the descriptor, and Finish
  // says what failed and removes the archive.
  void packingFailuresKeepTheFolder_data() {
    QTest::addColumn<QString>("how");
    QTest::addColumn<QString>("expected");
    QTest::newRow("a packed file that is not there") << "missing"
                                                     << "tables.descr";
    QTest::newRow("a folder file changed after it was packed") << "grown"
                                                               << "tables.descr";
    QTest::newRow("packing breaks between chunks") << "broken"
                                                   << "not there.txt";
  }
  void packingFailuresKeepTheFolder() {
    QFETCH(QString, how);
    QFETCH(QString, expected);
    TPacketPacker packer(FFolder, FTmp);
    QString error;
    QVERIFY2(packer.Start(error), qPrintable(error));
    QStringList files;
    if (how != QLatin1String("missing")) {
      WriteFile(FFolder + QStringLiteral("tables.descr"), "{2.1.0.15}\r\n");
      files.append(QStringLiteral("tables.descr"));
    }
    packer.PackFile(QStringLiteral("tables.descr"));
    for (int n = 1; n <= 12; ++n) {
      if (how == QLatin1String("broken") && n == 5) BreakPacking(packer);
      Put(packer, FFolder, n, ChunkBytes(n, 3000));
      files.append(ChunkName(n));
    }
    packer.Flush();
    if (how == QLatin1String("grown")) {
      QFile f(FFolder + QStringLiteral("tables.descr"));
      QVERIFY(f.open(QIODevice::Append));
      f.write("ARTICLE\r\n");
    }
    QVERIFY(!packer.Finish(error));
    QVERIFY2(error.contains(expected), qPrintable(error));
    QVERIFY(!QFile::exists(FTmp));
    files.sort();
    QCOMPARE(Files(FFolder), files);
    for (int n = 1; n <= 12; ++n)
      QVERIFY2(ReadFile(FFolder + ChunkName(n)) == ChunkBytes(n, 3000), qPrintable(ChunkName(n)));
    QCOMPARE(packer.KeptText(),
             QStringLiteral("Изнесените файлове са запазени в папка %1.").arg(FFolder));
  }

  // The export fails (not a stop): the folder ends up with every chunk
  // handed over as a file, byte for byte, as an export writing its own files
  // leaves it, and without the archive. A stop leaves no chunk and no archive.
  void exportFailureKeepsTheChunkFiles_data() {
    QTest::addColumn<int>("chunks");
    QTest::addColumn<bool>("stop");
    QTest::newRow("failure before any chunk") << 0 << false;
    QTest::newRow("failure after one chunk") << 1 << false;
    QTest::newRow("failure after more chunks than the queue holds") << 30 << false;
    QTest::newRow("stop") << 30 << true;
  }
  void exportFailureKeepsTheChunkFiles() {
    QFETCH(int, chunks);
    QFETCH(bool, stop);
    {
      TPacketPacker packer(FFolder, FTmp);
      QString error;
      QVERIFY2(packer.Start(error), qPrintable(error));
      WriteFile(FFolder + QStringLiteral("tables.descr"), "{2.1.0.15}\r\n");
      packer.PackFile(QStringLiteral("tables.descr"));
      for (int n = 1; n <= chunks; ++n) Put(packer, FFolder, n, ChunkBytes(n, 20000));
      if (stop) {
        packer.Abandon();
      } else {
        // The run leaves without a word to the packer: its end keeps them.
      }
    }
    QVERIFY(!QFile::exists(FTmp));
    QStringList expected{QStringLiteral("tables.descr")};
    if (!stop)
      for (int n = 1; n <= chunks; ++n) expected.append(ChunkName(n));
    expected.sort();
    QCOMPARE(Files(FFolder), expected);
    for (int n = 1; !stop && n <= chunks; ++n)
      QVERIFY2(ReadFile(FFolder + ChunkName(n)) == ChunkBytes(n, 20000), qPrintable(ChunkName(n)));
  }

  // The closed archive reads back other than what was handed over: the run
  // fails, the folder keeps its files and gets back every chunk the archive
  // holds intact; a chunk it does not is named, and the archive stays as the
  // only place left to look.
  void readBackMismatch_data() {
    QTest::addColumn<QString>("how");
    QTest::addColumn<QString>("expected");
    QTest::addColumn<bool>("chunkLost");
    QTest::newRow("a chunk missing") << "missing" << ChunkName(2) << true;
    QTest::newRow("a chunk's bytes changed") << "changed" << ChunkName(2) << true;
    QTest::newRow("a chunk cut short") << "short" << ChunkName(2) << true;
    QTest::newRow("an entry nobody handed over") << "extra"
                                                 << "stray.xml" << false;
    QTest::newRow("an entry twice") << "twice" << ChunkName(3) << false;
    QTest::newRow("the archive cut before its directory") << "cut"
                                                          << "не може да бъде прочетен" << false;
    QTest::newRow("the archive cut inside a chunk") << "cut in 4"
                                                    << "не може да бъде прочетен" << true;
  }
  void readBackMismatch() {
    QFETCH(QString, how);
    QFETCH(QString, expected);
    QFETCH(bool, chunkLost);
    TPacketPacker packer(FFolder, FTmp);
    packer.SetBeforeReadBack([&](const QString& tmp) {
      if (how.startsWith(QLatin1String("cut"))) {
        // What a write failure leaves: the entries up to a point, no directory.
        QFile f(tmp);
        QVERIFY(f.open(QIODevice::ReadWrite));
        const QByteArray bytes = f.readAll();
        qsizetype cut = bytes.indexOf(QByteArrayLiteral("PK\x01\x02"));
        if (how == QLatin1String("cut in 4")) cut = bytes.indexOf(ChunkName(4).toLatin1()) + 40;
        QVERIFY(cut > 0 && f.resize(cut));
        return;
      }
      QList<QPair<QString, QByteArray>> entries = ZipEntries(tmp);
      for (int i = 0; i < entries.size(); ++i) {
        if (entries[i].first != ChunkName(2)) continue;
        if (how == QLatin1String("missing")) entries.removeAt(i);
        if (how == QLatin1String("changed")) entries[i].second[10] = '#';
        if (how == QLatin1String("short")) entries[i].second.chop(1);
        break;
      }
      if (how == QLatin1String("extra")) entries.append({QStringLiteral("stray.xml"), "x"});
      if (how == QLatin1String("twice")) entries.append({ChunkName(3), ChunkBytes(3, 4000)});
      RewriteZip(tmp, entries);
    });
    QString error;
    QVERIFY2(packer.Start(error), qPrintable(error));
    WriteFile(FFolder + QStringLiteral("tables.descr"), "{2.1.0.15}\r\n");
    packer.PackFile(QStringLiteral("tables.descr"));
    for (int n = 1; n <= 4; ++n) Put(packer, FFolder, n, ChunkBytes(n, 4000));
    packer.Flush();
    WriteFile(FFolder + QStringLiteral("packet.manifest"), "manifest");
    QVERIFY(!packer.Finish(error));
    QVERIFY2(error.contains(expected), qPrintable(error));
    const int lost = !chunkLost ? 0 : how == QLatin1String("cut in 4") ? 4 : 2;
    QStringList files{QStringLiteral("packet.manifest"), QStringLiteral("tables.descr")};
    for (int n = 1; n <= 4; ++n)
      if (n != lost) files.append(ChunkName(n));
    files.sort();
    QCOMPARE(Files(FFolder), files);
    for (int n = 1; n <= 4; ++n)
      if (n != lost) QCOMPARE(ReadFile(FFolder + ChunkName(n)), ChunkBytes(n, 4000));
    QCOMPARE(QFile::exists(FTmp), chunkLost);
    const QString kept = packer.KeptText();
    if (chunkLost) {
      QVERIFY2(kept.contains(ChunkName(lost)) && kept.contains(FTmp), qPrintable(kept));
      QVERIFY2(!kept.startsWith(
                   QStringLiteral("Изнесените файлове са запазени в папка %1.").arg(FFolder)),
               qPrintable(kept));
    } else {
      QCOMPARE(kept, QStringLiteral("Изнесените файлове са запазени в папка %1.").arg(FFolder));
    }
  }

  // An archive that cannot be created: Start says so and leaves nothing,
  // no thread either.
  void archiveThatCannotBeCreated() {
    const QString tmp = FDir.path() + QStringLiteral("/no such folder/x.rar.tmp");
    TPacketPacker packer(FFolder, tmp);
    QString error;
    QVERIFY(!packer.Start(error));
    QVERIFY(!error.isEmpty());
    QVERIFY(!QFileInfo::exists(tmp));
    QCOMPARE(ThreadCount(), FThreadsBefore);
  }

  // A packer that never started takes nothing and removes nothing: an
  // archive at its name is not its own.
  void packerThatNeverStarted() {
    WriteFile(FTmp, "an earlier archive");
    {
      TPacketPacker packer(FFolder, FTmp);
      QVERIFY_THROWS_EXCEPTION(ENompackError, packer.PackFile(QStringLiteral("tables.descr")));
      QString error;
      QVERIFY(!packer.Finish(error));
    }
    QCOMPARE(ReadFile(FTmp), QByteArray("an earlier archive"));
  }

  // A chunk meant for another folder is refused, not written elsewhere.
  void chunkOfAnotherFolder() {
    TPacketPacker packer(FFolder, FTmp);
    QString error;
    QVERIFY2(packer.Start(error), qPrintable(error));
    const QString other = FDir.path() + QStringLiteral("/other/");
    QVERIFY_THROWS_EXCEPTION(ENompackError, Put(packer, other, 1, QByteArray("x")));
    QVERIFY(!QFile::exists(other + ChunkName(1)));
  }
};

QTEST_GUILESS_MAIN(TestPacketPacker)
#include "test_packetpacker.moc"
