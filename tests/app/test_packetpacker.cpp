// The packer that writes and packs a generation's files beside the export:
// the archive against the folder, a chunk file that cannot be written, a
// stop while a chunk is being written, packing failures, and that its
// threads are gone whatever way it ends.
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
#include "PacketPacker.h"

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
      QCOMPARE(ThreadCount(), FThreadsBefore + 2);  // the writing and the packing
      const QByteArray descr("{2.1.0.15}\r\nARTICLE\r\n");
      WriteFile(FFolder + QStringLiteral("tables.descr"), descr);
      packer.PackFile(QStringLiteral("tables.descr"));
      expected.append({QStringLiteral("tables.descr"), descr});
      for (int n = 1; n <= chunks; ++n) {
        const QByteArray bytes = ChunkBytes(n, chunkSize);
        packer.PutChunk(FFolder, ChunkName(n), bytes, Context(n));
        expected.append({ChunkName(n), bytes});
        if (stranger && n == chunks / 2) {
          WriteFile(FFolder + QStringLiteral("notes.txt"), "left by the technician");
          expected.append({QStringLiteral("notes.txt"), "left by the technician"});
        }
      }
      packer.Flush();
      // Every chunk is in the folder before the run writes its manifest.
      for (int n = 1; n <= chunks; ++n)
        QVERIFY2(ReadFile(FFolder + ChunkName(n)) == ChunkBytes(n, chunkSize),
                 qPrintable(ChunkName(n)));
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

  // A chunk file that cannot be written: the export's attempts are made on
  // the writing thread; the last failure reaches the export with the chunk's
  // context; no later chunk is written; the archive goes.
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
    const int put = throwsAtFlush ? 3 : 200;
    bool threw = false;
    try {
      for (int n = 1; n <= put; ++n)
        packer.PutChunk(FFolder, ChunkName(n), ChunkBytes(n, 2000), Context(n));
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
      QVERIFY2(packer.Finish(error), qPrintable(error));
      QCOMPARE(ZipEntries(FTmp).size(), put);
      return;
    }
    // As the run leaves on the error: the packer goes, and with it the archive.
    packer.Abandon(true);
    QVERIFY(!QFile::exists(FTmp));
    QCOMPARE(Files(FFolder), (QStringList{ChunkName(1), ChunkName(2)}));
    // A packer that failed neither finishes nor takes more.
    QVERIFY(!packer.Finish(error));
    QVERIFY_THROWS_EXCEPTION(ENompackError,
                             packer.PutChunk(FFolder, ChunkName(9), QByteArray("x"), Context(9)));
  }

  // The run leaves while a chunk is being written: a stop drops what is
  // queued, an error writes it first (the folder keeps every chunk the
  // export made); either way the archive goes and the threads are joined.
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
    for (int n = 1; n <= 6; ++n)
      packer.PutChunk(FFolder, ChunkName(n), ChunkBytes(n, 1000), Context(n));
    QVERIFY(gate.WaitReached());
    std::thread opener([&] {
      std::this_thread::sleep_for(std::chrono::milliseconds(100));
      gate.Open();
    });
    packer.Abandon(writeQueued);
    opener.join();
    QVERIFY(!QFile::exists(FTmp));
    QStringList expected{ChunkName(1), ChunkName(2)};
    if (writeQueued)
      expected += QStringList{ChunkName(3), ChunkName(4), ChunkName(5), ChunkName(6)};
    expected.sort();
    QCOMPARE(Files(FFolder), expected);
  }

  // Packing failures are no export failures: the files are written all the
  // same, and Finish says what failed, removes the archive and keeps the
  // folder whole.
  void packingFailuresKeepTheFolder_data() {
    QTest::addColumn<QString>("how");
    QTest::addColumn<QString>("expected");
    QTest::newRow("a packed file that is not there") << "missing"
                                                     << "tables.descr";
    QTest::newRow("a chunk file changed after it was packed") << "grown"
                                                              << "ARTICLE[2].xml";
  }
  void packingFailuresKeepTheFolder() {
    QFETCH(QString, how);
    QFETCH(QString, expected);
    TPacketPacker packer(FFolder, FTmp);
    QString error;
    QVERIFY2(packer.Start(error), qPrintable(error));
    if (how != QLatin1String("missing"))
      WriteFile(FFolder + QStringLiteral("tables.descr"), "{2.1.0.15}\r\n");
    packer.PackFile(QStringLiteral("tables.descr"));
    for (int n = 1; n <= 3; ++n)
      packer.PutChunk(FFolder, ChunkName(n), ChunkBytes(n, 3000), Context(n));
    packer.Flush();
    if (how == QLatin1String("grown")) {
      QFile f(FFolder + ChunkName(2));
      QVERIFY(f.open(QIODevice::Append));
      f.write("<!-- more -->");
    }
    const QStringList before = Files(FFolder);
    QVERIFY(!packer.Finish(error));
    QVERIFY2(error.contains(expected), qPrintable(error));
    QVERIFY(!QFile::exists(FTmp));
    QCOMPARE(Files(FFolder), before);
    QVERIFY(before.contains(ChunkName(3)));
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
    QVERIFY_THROWS_EXCEPTION(ENompackError,
                             packer.PutChunk(other, ChunkName(1), QByteArray("x"), Context(1)));
    QVERIFY(!QFile::exists(other + ChunkName(1)));
  }
};

QTEST_GUILESS_MAIN(TestPacketPacker)
#include "test_packetpacker.moc"
