#include "PacketPacker.h"

#include <QDateTime>
#include <QFile>
#include <QtGlobal>
#include <system_error>

#ifdef Q_OS_UNIX
#include <signal.h>
#endif

#include "Archiver.h"
#include "ChunkWriteAttempts.h"
#include "ClientDataSet.h"
#include "ZipWriter.h"

namespace {

// Room for a few chunks: enough to ride out a slow file or a large chunk,
// little enough that a run's memory stays small whatever its rows hold.
constexpr size_t kQueueItems = 8;
constexpr qint64 kQueueBytes = 8 * 1024 * 1024;

}  // namespace

TPacketPacker::TPacketPacker(QString packetFolder, QString tmpName)
    : FFolder(std::move(packetFolder)),
      FTmpName(std::move(tmpName)),
      FFileWriter(&TClientDataSet::WriteWorkFile) {}

TPacketPacker::~TPacketPacker() {
  if (!FEnded) Abandon(true);
}

bool TPacketPacker::TStage::HasRoom() const {
  // One item always fits, however large, so that no chunk waits forever.
  return Queue.empty() || (Queue.size() < kQueueItems && QueuedBytes < kQueueBytes);
}

bool TPacketPacker::Start(QString& errorText) {
  FZip = std::make_unique<TZipWriter>();
  if (!FZip->Open(FTmpName, errorText)) {
    FZip.reset();
    QFile::remove(FTmpName);
    FEnded = true;
    return false;
  }
#ifdef Q_OS_UNIX
  // The process's signals (the command line's Ctrl+C and TERM) stay with
  // the thread that runs the export, whose server calls they break off; the
  // threads inherit a mask that blocks them all.
  sigset_t all, previous;
  sigfillset(&all);
  pthread_sigmask(SIG_BLOCK, &all, &previous);
#endif
  QString threadError;
  try {
    FWriter.Thread = std::thread([this] { Run(FWriter); });
    FPacker.Thread = std::thread([this] { Run(FPacker); });
  } catch (const std::system_error& e) {
    threadError = QString::fromLocal8Bit(e.what());
  }
#ifdef Q_OS_UNIX
  pthread_sigmask(SIG_SETMASK, &previous, nullptr);
#endif
  if (threadError.isEmpty()) return true;
  // No thread to be had: the run packs after the export, as without one.
  Abandon(false);
  errorText = threadError;
  return false;
}

void TPacketPacker::ThrowWriteError() {
  if (FWriteError) throw ENompackError(*FWriteError);
}

void TPacketPacker::Enqueue(TItem item) {
  std::unique_lock lock(FMutex);
  if (FEnded || !FPacker.Thread.joinable())
    throw ENompackError(QStringLiteral("The packet packer is not running"),
                        ENompackError::Kind::Assertion);
  FChanged.wait(lock, [this] { return FWriteError || (FWriter.HasRoom() && FPacker.HasRoom()); });
  ThrowWriteError();
  // The bytes are shared between the two queues, not copied.
  if (item.WriteFile) {
    FWriter.QueuedBytes += item.Bytes.size();
    FWriter.Queue.push_back(item);
  }
  FPacker.QueuedBytes += item.Bytes.size();
  FPacker.Queue.push_back(std::move(item));
  FChanged.notify_all();
}

void TPacketPacker::PutChunk(const QString& folder, const QString& chunkName, QByteArray bytes,
                             const QString& context) {
  if (folder != FFolder)
    throw ENompackError(QStringLiteral("Chunk %1 belongs to %2, not to the packet folder %3")
                            .arg(chunkName, folder, FFolder),
                        ENompackError::Kind::Assertion);
  Enqueue({chunkName, std::move(bytes), context, true});
}

void TPacketPacker::PackFile(const QString& bareName) {
  Enqueue({bareName, QByteArray(), QString(), false});
}

void TPacketPacker::Flush() {
  std::unique_lock lock(FMutex);
  FChanged.wait(lock, [this] {
    return FWriteError ||
           (FWriter.Queue.empty() && !FWriter.Busy && FPacker.Queue.empty() && !FPacker.Busy);
  });
  ThrowWriteError();
}

void TPacketPacker::Run(TStage& stage) {
  const bool writing = &stage == &FWriter;
  for (;;) {
    TItem item;
    {
      std::unique_lock lock(FMutex);
      FChanged.wait(lock, [&] { return FStopping || !stage.Queue.empty(); });
      if (stage.Queue.empty()) return;
      item = std::move(stage.Queue.front());
      stage.Queue.pop_front();
      stage.QueuedBytes -= item.Bytes.size();
      FChanged.notify_all();
      // After a write failure nothing more is written; an abandoned
      // archive, or one that failed, is not worth deflating into.
      const bool skip = writing ? FWriteError || (FStopping && !FWriteQueued)
                                : FStopping || !FPackError.isEmpty();
      if (skip) continue;
      stage.Busy = true;
    }
    if (writing)
      WriteItem(item);
    else
      PackItem(item);
    std::lock_guard lock(FMutex);
    stage.Busy = false;
    FChanged.notify_all();
  }
}

void TPacketPacker::WriteItem(const TItem& item) {
  try {
    WriteWithAttempts([&] { FFileWriter(FFolder + item.BareName, item.Bytes); });
  } catch (ENompackError& e) {
    e.AddContext(item.Context);
    std::lock_guard lock(FMutex);
    FWriteError = e;
  }
}

void TPacketPacker::PackItem(const TItem& item) {
  // The entry's time is the file's: written about now, or read from it.
  QString error;
  const bool packed = item.WriteFile ? FZip->AddEntry(item.BareName, item.Bytes,
                                                      QDateTime::currentSecsSinceEpoch(), error)
                                     : FZip->AddFile(item.BareName, FFolder + item.BareName, error);
  std::lock_guard lock(FMutex);
  if (packed)
    FPacked.insert(item.BareName);
  else
    FPackError = error;
}

void TPacketPacker::StopThreads(bool writeQueued) {
  {
    std::lock_guard lock(FMutex);
    FStopping = true;
    FWriteQueued = writeQueued;
    FChanged.notify_all();
  }
  if (FWriter.Thread.joinable()) FWriter.Thread.join();
  if (FPacker.Thread.joinable()) FPacker.Thread.join();
}

void TPacketPacker::Abandon(bool writeQueued) {
  if (FEnded) return;
  FEnded = true;
  StopThreads(writeQueued);
  // Only an archive this packer made is its to remove.
  if (!FZip) return;
  FZip.reset();
  QFile::remove(FTmpName);
}

bool TPacketPacker::Finish(QString& errorText) {
  if (FEnded || !FZip) {
    errorText = QStringLiteral("The packet packer is not running");
    return false;
  }
  FEnded = true;
  StopThreads(true);
  const auto fail = [&](const QString& text) {
    errorText = text;
    FZip.reset();
    QFile::remove(FTmpName);
    return false;
  };
  if (FWriteError) return fail(FWriteError->FullText());
  if (!FPackError.isEmpty()) return fail(FPackError);

  // Files the queue did not bring (a file put into the folder meanwhile)
  // go in as well: the folder is released whole or not at all.
  const QMap<QString, qint64> files = TArchiver::FolderFiles(FFolder);
  for (auto it = files.cbegin(); it != files.cend(); ++it) {
    if (FPacked.contains(it.key())) continue;
    if (!FZip->AddFile(it.key(), FFolder + it.key(), errorText)) return fail(errorText);
  }
  if (!FZip->Close(errorText)) return fail(errorText);
  FZip.reset();
  if (!TArchiver::ReleasePackedFiles(FFolder, files, FTmpName, true, errorText)) {
    // The archive is only given up while the folder still holds every file;
    // once a file is deleted the archive is the only copy of it.
    if (TArchiver::FolderFiles(FFolder) == files) QFile::remove(FTmpName);
    return false;
  }
  return true;
}
