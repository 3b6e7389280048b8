#pragma once

#include <QByteArray>
#include <QMap>
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

// Packs a generation's chunks into the packet archive while the export goes
// on: a thread of its own appends each chunk to the ".tmp" archive, so that
// deflating runs beside the reading, on both cores. The chunks never become
// files on the way: creating some thousands of small files cost more than
// reading them. The files the run writes into the folder itself (the
// descriptor, the manifest) are packed from there.
//
// Finish closes the archive, reads it back whole and finds in it exactly
// the chunks handed over, each with its size and checksum, and the folder's
// files; only then, once the archive has reached the disk, are the folder's
// files deleted. Whenever the run does not end in a packet, the folder ends
// up holding every chunk file handed over, as an export without the packer
// leaves it: the chunks are extracted from the archive, checked, and the
// archive is removed only after that; where that fails, the archive stays
// and KeptText says what is where. Only a stop (Abandon) drops everything.
//
// The queue holds a few chunks (and a few MiB) at most; the export waits
// for room, so a run's memory stays small whatever its size. Once packing
// fails nothing more is packed: the later chunks are written as files (with
// the export's write attempts), and a chunk file that cannot be written is
// thrown to the export, with its chunk's context, at its next chunk or at
// Flush. Whatever way the packer ends, its thread is joined.
class TPacketPacker : public IChunkSink {
 public:
  // Writes a chunk file; throws ENompackError (or another std::exception)
  // when it cannot.
  using TFileWriter = std::function<void(const QString& fileName, const QByteArray& bytes)>;
  // For tests: called with the closed archive's name before it is read back.
  using TArchiveHook = std::function<void(const QString& tmpName)>;

  // `packetFolder` ends with a separator; `tmpName` is the archive to write
  // (it must not exist: it is created, and removed unless Finish succeeds or
  // the archive is the only copy of a chunk).
  TPacketPacker(QString packetFolder, QString tmpName);
  // KeepChunkFiles when neither Finish, KeepChunkFiles nor Abandon ran.
  ~TPacketPacker() override;
  TPacketPacker(const TPacketPacker&) = delete;
  TPacketPacker& operator=(const TPacketPacker&) = delete;

  // Creates the archive and starts the thread; false with the error text
  // when the archive cannot be created or the thread cannot be started
  // (nothing is left then).
  bool Start(QString& errorText);

  // IChunkSink. Waits while the queue is full.
  void PutChunk(const QString& folder, const QString& chunkName, QByteArray bytes,
                const QByteArray& checksum, const QString& context) override;
  // Packs a file the run wrote into the folder itself, read from there.
  void PackFile(const QString& bareName);
  // Waits until every chunk handed over is packed (or written); throws the
  // write failure as PutChunk does.
  void Flush();
  // After Flush, once the folder holds all the run wrote: stops the thread,
  // packs every plain file of the folder the queue did not bring, closes and
  // checks the archive and releases the folder's files. False with the error
  // text when anything of that fails; the chunk files are then put into the
  // folder (KeepChunkFiles) and KeptText says where the export is.
  bool Finish(QString& errorText);
  // For a run that failed: stops the thread (packing what is queued), closes
  // the archive, writes every chunk handed over into the folder from it,
  // checks each file and then removes the archive. False when a chunk is not
  // in the folder at the end; the archive stays then. KeptText says where
  // the export is either way.
  bool KeepChunkFiles();
  // For a stop: drops what is queued, stops the thread and removes the
  // archive. The chunks handed over are gone.
  void Abandon();

  // After Finish failed or KeepChunkFiles: one sentence on where the
  // exported files are, for the message the user sees.
  const QString& KeptText() const { return FKeptText; }

  // For tests. Set before Start.
  void SetFileWriter(TFileWriter writer) { FFileWriter = std::move(writer); }
  void SetBeforeReadBack(TArchiveHook hook) { FBeforeReadBack = std::move(hook); }

 private:
  struct TItem {
    QString BareName;
    QByteArray Bytes;
    QByteArray Checksum;
    QString Context;
    bool IsChunk = false;  // false: a file of the folder, read from there
  };
  struct TChunk {
    qint64 Size = 0;
    QByteArray Checksum;     // the export's, for the files put back
    quint32 Crc = 0;         // the packer's, for the archive read back
    bool InArchive = false;  // false: written as a file after packing failed
  };

  const QString FFolder;
  const QString FTmpName;
  TFileWriter FFileWriter;
  TArchiveHook FBeforeReadBack;
  std::unique_ptr<TZipWriter> FZip;
  std::thread FThread;

  // Shared with the thread, under FMutex.
  std::mutex FMutex;
  std::condition_variable FChanged;
  std::deque<TItem> FQueue;
  qint64 FQueuedBytes = 0;
  bool FBusy = false;        // the thread holds an item
  bool FStopping = false;    // the thread ends once the queue is empty
  bool FDropQueued = false;  // when stopping: drop the queued items
  std::optional<ENompackError> FWriteError;
  QMap<QString, TChunk> FChunks;  // every chunk packed or written, by name
  QSet<QString> FPackedFiles;     // the folder's files in the archive
  QString FPackError;             // the first failure to pack; nothing is packed after it

  bool FEnded = false;  // Finish, KeepChunkFiles or Abandon ran
  QString FKeptText;

  bool HasRoom() const;
  void Enqueue(TItem item);
  void Run();
  void Handle(const TItem& item);
  void WriteChunk(const TItem& item);
  void StopThread(bool dropQueued);
  void ThrowWriteError();  // under FMutex
  bool CheckArchive(const QMap<QString, qint64>& files, QString& errorText) const;
  bool RestoreChunkFiles();
};
