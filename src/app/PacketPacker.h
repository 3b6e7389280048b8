#pragma once

#include <QByteArray>
#include <QSet>
#include <QString>
#include <condition_variable>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <thread>

#include "ChunkSink.h"
#include "NompackError.h"

class TZipWriter;

// Packs a generation's files into the packet archive while the export goes
// on. Two threads take each chunk as the export makes it: one writes its
// file into the packet folder (with the export's write attempts), the other
// appends it to the ".tmp" archive, so that creating the files and
// deflating them run beside the reading, on both cores. Finish then packs
// whatever else the folder holds and gives up the folder's files only as
// TArchiver::PackPacketFolder does: after the archive has been read back
// whole, found to hold every file at its size, and reached the disk.
//
// Each thread's queue holds a few chunks (and a few MiB) at most; the
// export waits for room. A chunk file that cannot be written stops the
// writing: the folder keeps the chunks before it, and the failure, with its
// chunk's context, is thrown to the export at its next chunk or at Flush. A
// failure to pack is no export failure: the files are still written and
// Finish reports it. Whatever way the packer ends, its threads are joined,
// and its archive is removed unless Finish got as far as deleting files.
class TPacketPacker : public IChunkSink {
 public:
  // Writes a chunk file; throws ENompackError (or another std::exception)
  // when it cannot.
  using TFileWriter = std::function<void(const QString& fileName, const QByteArray& bytes)>;

  // `packetFolder` ends with a separator; `tmpName` is the archive to write
  // (it must not exist: it is created, and removed unless Finish succeeds).
  TPacketPacker(QString packetFolder, QString tmpName);
  // Abandon(true) when neither Finish nor Abandon ran.
  ~TPacketPacker() override;
  TPacketPacker(const TPacketPacker&) = delete;
  TPacketPacker& operator=(const TPacketPacker&) = delete;

  // Creates the archive and starts the threads; false with the error text
  // when the archive cannot be created or a thread cannot be started
  // (nothing is left then).
  bool Start(QString& errorText);

  // IChunkSink. Waits while the queue is full.
  void PutChunk(const QString& folder, const QString& chunkName, QByteArray bytes,
                const QString& context) override;
  // Packs a file the run wrote into the folder itself, read from there.
  void PackFile(const QString& bareName);
  // Waits until every chunk handed over is written and packed; throws the
  // write failure as PutChunk does.
  void Flush();
  // After Flush, once the folder holds all the run wrote: stops the threads,
  // packs every plain file of the folder the queue did not bring, closes the
  // archive and releases the folder's files (TArchiver::ReleasePackedFiles).
  // False with the error text when anything of that fails; the archive is
  // removed then, unless a file of the folder was deleted already (the
  // archive is its only copy then and stays).
  bool Finish(QString& errorText);
  // Stops the threads: chunks still queued are written first (writeQueued,
  // so that the folder holds every chunk the export made) or dropped. The
  // archive is removed.
  void Abandon(bool writeQueued);

  // For tests: what writes the chunk files (TClientDataSet::WriteWorkFile
  // unless replaced). Set before Start.
  void SetFileWriter(TFileWriter writer) { FFileWriter = std::move(writer); }

 private:
  struct TItem {
    QString BareName;
    QByteArray Bytes;
    QString Context;
    bool WriteFile = false;  // false: the file is in the folder already
  };
  // One thread and its queue: the writing of the files or the packing.
  struct TStage {
    std::thread Thread;
    std::deque<TItem> Queue;
    qint64 QueuedBytes = 0;
    bool Busy = false;  // the thread holds an item
    bool HasRoom() const;
  };

  const QString FFolder;
  const QString FTmpName;
  TFileWriter FFileWriter;
  std::unique_ptr<TZipWriter> FZip;

  // Shared with the threads, under FMutex.
  std::mutex FMutex;
  std::condition_variable FChanged;
  TStage FWriter;
  TStage FPacker;
  bool FStopping = false;    // the threads end once their queues are empty
  bool FWriteQueued = true;  // when stopping: write the queued chunks or drop them
  std::optional<ENompackError> FWriteError;
  QSet<QString> FPacked;  // bare names in the archive
  QString FPackError;     // the first failure to pack; nothing is packed after it

  bool FEnded = false;  // Finish or Abandon ran

  void Enqueue(TItem item);
  void Run(TStage& stage);
  void WriteItem(const TItem& item);
  void PackItem(const TItem& item);
  void StopThreads(bool writeQueued);
  void ThrowWriteError();  // under FMutex
};
