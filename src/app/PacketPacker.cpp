#include "PacketPacker.h"

#include <QDateTime>
#include <QFile>
#include <QMultiMap>
#include <QStringList>
#include <QtGlobal>
#include <system_error>
#include <vector>

#include <zlib.h>

#ifdef Q_OS_UNIX
#include <signal.h>
#endif

#include "Archiver.h"
#include "ChunkWriteAttempts.h"
#include "ClientDataSet.h"
#include "PacketManifest.h"
#include "ZipWriter.h"

namespace {

// Room for a few chunks: enough to ride out a slow deflate or a large chunk,
// little enough that a run's memory stays small whatever its rows hold.
constexpr size_t kQueueItems = 8;
constexpr qint64 kQueueBytes = 8 * 1024 * 1024;

// Names of a list, the first few of them, for a message.
QString SomeNames(const QStringList& names) {
  constexpr int kShown = 5;
  QString text = names.mid(0, kShown).join(QStringLiteral(", "));
  if (names.size() > kShown) text += QStringLiteral(", ...");
  return text;
}

// The CRC-32 of some bytes: the read-back compares every byte of the
// archive, and this costs a fraction of a SHA-256 on the packet's tens of MB.
quint32 Crc32(const QByteArray& bytes) {
  return static_cast<quint32>(::crc32_z(::crc32_z(0, nullptr, 0),
                                        reinterpret_cast<const Bytef*>(bytes.constData()),
                                        static_cast<size_t>(bytes.size())));
}

}  // namespace

TPacketPacker::TPacketPacker(QString packetFolder, QString tmpName)
    : FFolder(std::move(packetFolder)),
      FTmpName(std::move(tmpName)),
      FFileWriter(&TClientDataSet::WriteWorkFile) {}

TPacketPacker::~TPacketPacker() {
  if (!FEnded) KeepChunkFiles();
}

bool TPacketPacker::HasRoom() const {
  // One item always fits, however large, so that no chunk waits forever.
  return FQueue.empty() || (FQueue.size() < kQueueItems && FQueuedBytes < kQueueBytes);
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
  // thread inherits a mask that blocks them all.
  sigset_t all, previous;
  sigfillset(&all);
  pthread_sigmask(SIG_BLOCK, &all, &previous);
#endif
  QString threadError;
  try {
    FThread = std::thread([this] { Run(); });
  } catch (const std::system_error& e) {
    threadError = QString::fromLocal8Bit(e.what());
  }
#ifdef Q_OS_UNIX
  pthread_sigmask(SIG_SETMASK, &previous, nullptr);
#endif
  if (threadError.isEmpty()) return true;
  // No thread to be had: the run writes and packs the files itself.
  Abandon();
  errorText = threadError;
  return false;
}

void TPacketPacker::ThrowWriteError() {
  if (FWriteError) throw ENompackError(*FWriteError);
}

void TPacketPacker::Enqueue(TItem item) {
  std::unique_lock lock(FMutex);
  if (FEnded || !FThread.joinable())
    throw ENompackError(QStringLiteral("The packet packer is not running"),
                        ENompackError::Kind::Assertion);
  FChanged.wait(lock, [this] { return FWriteError || HasRoom(); });
  ThrowWriteError();
  FQueuedBytes += item.Bytes.size();
  FQueue.push_back(std::move(item));
  FChanged.notify_all();
}

void TPacketPacker::PutChunk(const QString& folder, const QString& chunkName, QByteArray bytes,
                             const QByteArray& checksum, const QString& context) {
  if (folder != FFolder)
    throw ENompackError(QStringLiteral("Chunk %1 belongs to %2, not to the packet folder %3")
                            .arg(chunkName, folder, FFolder),
                        ENompackError::Kind::Assertion);
  Enqueue({chunkName, std::move(bytes), checksum, context, true});
}

void TPacketPacker::PackFile(const QString& bareName) {
  Enqueue({bareName, QByteArray(), QByteArray(), QString(), false});
}

void TPacketPacker::Flush() {
  std::unique_lock lock(FMutex);
  FChanged.wait(lock, [this] { return FWriteError || (FQueue.empty() && !FBusy); });
  ThrowWriteError();
}

void TPacketPacker::Run() {
  for (;;) {
    TItem item;
    {
      std::unique_lock lock(FMutex);
      FChanged.wait(lock, [&] { return FStopping || !FQueue.empty(); });
      if (FQueue.empty()) return;
      item = std::move(FQueue.front());
      FQueue.pop_front();
      FQueuedBytes -= item.Bytes.size();
      FChanged.notify_all();
      if (FStopping && FDropQueued) continue;
      FBusy = true;
    }
    Handle(item);
    std::lock_guard lock(FMutex);
    FBusy = false;
    FChanged.notify_all();
  }
}

void TPacketPacker::Handle(const TItem& item) {
  // FPackError is set on this thread only; the others read it after the join.
  if (FPackError.isEmpty()) {
    QString error;
    // The entry's time is the file's: made about now, or read from it.
    const bool packed = item.IsChunk ? FZip->AddEntry(item.BareName, item.Bytes,
                                                      QDateTime::currentSecsSinceEpoch(), error)
                                     : FZip->AddFile(item.BareName, FFolder + item.BareName, error);
    const quint32 crc = packed && item.IsChunk ? Crc32(item.Bytes) : 0;
    std::lock_guard lock(FMutex);
    if (packed) {
      if (item.IsChunk)
        FChunks.insert(item.BareName, {item.Bytes.size(), item.Checksum, crc, true});
      else
        FPackedFiles.insert(item.BareName);
      return;
    }
    FPackError = error;
  }
  // A file of the folder is there already; a chunk is only here.
  if (item.IsChunk) WriteChunk(item);
}

void TPacketPacker::WriteChunk(const TItem& item) {
  {
    // After a write failure nothing more is written, as in an export that
    // writes its own files.
    std::lock_guard lock(FMutex);
    if (FWriteError) return;
  }
  try {
    WriteWithAttempts([&] { FFileWriter(FFolder + item.BareName, item.Bytes); });
    std::lock_guard lock(FMutex);
    FChunks.insert(item.BareName, {item.Bytes.size(), item.Checksum, 0, false});
  } catch (ENompackError& e) {
    e.AddContext(item.Context);
    std::lock_guard lock(FMutex);
    FWriteError = e;
  }
}

void TPacketPacker::StopThread(bool dropQueued) {
  {
    std::lock_guard lock(FMutex);
    FStopping = true;
    FDropQueued = dropQueued;
    FChanged.notify_all();
  }
  if (FThread.joinable()) FThread.join();
}

void TPacketPacker::Abandon() {
  if (FEnded) return;
  FEnded = true;
  StopThread(true);
  // Only an archive this packer made is its to remove.
  if (!FZip) return;
  FZip.reset();
  QFile::remove(FTmpName);
}

bool TPacketPacker::KeepChunkFiles() {
  if (FEnded) return false;
  FEnded = true;
  StopThread(false);
  if (!FZip) {
    FKeptText = QStringLiteral("Изнесените файлове са запазени в папка %1.").arg(FFolder);
    return true;
  }
  return RestoreChunkFiles();
}

bool TPacketPacker::RestoreChunkFiles() {
  if (FZip) {
    // An archive that cannot be closed has no directory: it is read by the
    // entries' own headers below, each entry checked against its chunk.
    QString closeError;
    FZip->Close(closeError);
    FZip.reset();
  }
  QSet<QString> restored;
  QString readError;
  bool anyInArchive = false;
  for (const TChunk& chunk : std::as_const(FChunks)) anyInArchive = anyInArchive || chunk.InArchive;
  if (anyInArchive) {
    // Each chunk goes into the folder only with the bytes handed over, and
    // counts only once its file reads back with them.
    TArchiver::ReadEntries(
        FTmpName,
        [&](const QString& name, const QByteArray& bytes, QString&) {
          const auto found = FChunks.constFind(name);
          if (found == FChunks.cend() || !found->InArchive || restored.contains(name) ||
              bytes.size() != found->Size || BytesChecksum(bytes) != found->Checksum)
            return true;
          try {
            const QString path = FFolder + name;
            WriteWithAttempts([&] { FFileWriter(path, bytes); });
            if (FileChecksum(path) == found->Checksum) restored.insert(name);
          } catch (const std::exception&) {
            // Counted as missing below.
          }
          return true;
        },
        readError, true);
  }
  QStringList missing;
  for (auto it = FChunks.cbegin(); it != FChunks.cend(); ++it)
    if (it->InArchive && !restored.contains(it.key())) missing.append(it.key());
  if (missing.isEmpty()) {
    QFile::remove(FTmpName);
    FKeptText = QStringLiteral("Изнесените файлове са запазени в папка %1.").arg(FFolder);
    return true;
  }
  FKeptText = QStringLiteral(
                  "Изнесените файлове са запазени в папка %1 без %2 от частите (%3): те не "
                  "могат да бъдат извлечени от архива %4, който е запазен.")
                  .arg(FFolder)
                  .arg(missing.size())
                  .arg(SomeNames(missing), FTmpName);
  return false;
}

bool TPacketPacker::CheckArchive(const QMap<QString, qint64>& files, QString& errorText) const {
  struct TStored {
    qint64 Index = 0;
    qint64 Size = 0;
    quint32 Crc = 0;
  };
  // The read-back is most of what is left once the export has ended; the
  // packer's thread and the caller's are both free for it.
  constexpr int kParts = 2;
  std::vector<QMultiMap<QString, TStored>> parts(kParts);
  QString readError;
  bool read = TArchiver::ReadEntriesInParts(
      FTmpName, kParts,
      [&](int part, qint64 index, const QString& name, const QByteArray& bytes, QString&) {
        parts[part].insert(name, {index, bytes.size(), Crc32(bytes)});
        return true;
      },
      readError);
  // An archive that cannot be read whole says so first; otherwise a name
  // stored twice is named (the earliest second entry of all).
  QMap<QString, TStored> stored;
  qint64 twiceAt = -1;
  QString twice;
  for (const auto& part : parts) {
    for (auto it = part.cbegin(); it != part.cend(); ++it) {
      auto known = stored.find(it.key());
      if (known == stored.end()) {
        stored.insert(it.key(), *it);
        continue;
      }
      const qint64 second = qMax(known->Index, it->Index);
      if (twiceAt < 0 || second < twiceAt) {
        twiceAt = second;
        twice = it.key();
      }
      if (it->Index < known->Index) *known = *it;
    }
  }
  if (read && twiceAt >= 0) {
    read = false;
    readError = QStringLiteral("файлът %1 е в него два пъти").arg(twice);
  }
  if (!read) {
    errorText = QStringLiteral("Архивът %1 не може да бъде прочетен: %2").arg(FTmpName, readError);
    return false;
  }
  const auto differs = [&](const QString& name, qint64 size, quint32 crc) {
    const auto found = stored.constFind(name);
    if (found == stored.cend())
      errorText = QStringLiteral("Архивът %1 не съдържа файла %2.").arg(FTmpName, name);
    else if (found->Size != size)
      errorText = QStringLiteral("Файлът %1 в архива %2 е с размер %3 вместо %4.")
                      .arg(name, FTmpName)
                      .arg(found->Size)
                      .arg(size);
    else if (found->Crc != crc)
      errorText =
          QStringLiteral("Файлът %1 в архива %2 се различава от изнесения.").arg(name, FTmpName);
    else
      return false;
    return true;
  };
  for (auto it = FChunks.cbegin(); it != FChunks.cend(); ++it)
    if (differs(it.key(), it->Size, it->Crc)) return false;
  for (auto it = files.cbegin(); it != files.cend(); ++it) {
    QFile file(FFolder + it.key());
    if (!file.open(QIODevice::ReadOnly)) {
      errorText = QStringLiteral("Файлът %1 не може да бъде прочетен: %2")
                      .arg(file.fileName(), file.errorString());
      return false;
    }
    if (differs(it.key(), it.value(), Crc32(file.readAll()))) return false;
  }
  for (auto it = stored.cbegin(); it != stored.cend(); ++it) {
    if (!FChunks.contains(it.key()) && !files.contains(it.key())) {
      errorText = QStringLiteral("Архивът %1 съдържа непознатия файл %2.").arg(FTmpName, it.key());
      return false;
    }
  }
  return true;
}

bool TPacketPacker::Finish(QString& errorText) {
  if (FEnded || !FZip) {
    errorText = QStringLiteral("The packet packer is not running");
    return false;
  }
  FEnded = true;
  StopThread(false);
  // Whatever fails, the folder gets the chunks back before the run says so.
  const auto fail = [&](const QString& text) {
    errorText = text;
    RestoreChunkFiles();
    return false;
  };
  if (FWriteError) return fail(FWriteError->FullText());
  if (!FPackError.isEmpty()) return fail(FPackError);

  // Files the queue did not bring (a file put into the folder meanwhile)
  // go in as well: the folder is released whole or not at all.
  const QMap<QString, qint64> files = TArchiver::FolderFiles(FFolder);
  QString error;
  for (auto it = files.cbegin(); it != files.cend(); ++it) {
    if (FChunks.contains(it.key()))
      return fail(QStringLiteral("Папката %1 съдържа файл %2, който не е изнесен от този процес.")
                      .arg(FFolder, it.key()));
    if (FPackedFiles.contains(it.key())) continue;
    if (!FZip->AddFile(it.key(), FFolder + it.key(), error)) return fail(error);
  }
  if (!FZip->Close(error)) return fail(error);
  FZip.reset();
  if (FBeforeReadBack) FBeforeReadBack(FTmpName);
  if (!CheckArchive(files, error)) return fail(error);
  if (!TArchiver::DeletePackedFiles(FFolder, files, FTmpName, errorText)) {
    // While the folder holds all its files the chunks go back beside them;
    // once one is deleted the archive, checked whole, is the only copy.
    if (TArchiver::FolderFiles(FFolder) == files) {
      RestoreChunkFiles();
    } else {
      FKeptText = QStringLiteral("Изнесените данни са запазени в архива %1.").arg(FTmpName);
    }
    return false;
  }
  return true;
}
