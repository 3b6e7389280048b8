#pragma once

#include <QByteArray>
#include <QString>

// Where an export hands each chunk file once its bytes are made, when it
// does not write the file itself: the generation run's packer, which packs
// the chunks on a thread of its own while the export reads on.
class IChunkSink {
 public:
  virtual ~IChunkSink() = default;

  // Takes the chunk file `chunkName` of `folder` (ends with a separator) with
  // its bytes and their checksum (as the manifest records it); it is packed,
  // or written (with the export's write attempts), possibly after the call
  // returns. `context` names the chunk in the error of a write that fails
  // ("exporting T, chunk N"). Throws ENompackError: the
  // failure of a chunk handed over earlier whose file could not be written,
  // its context already added; no chunk after that one is written.
  virtual void PutChunk(const QString& folder, const QString& chunkName, QByteArray bytes,
                        const QByteArray& checksum, const QString& context) = 0;
};
