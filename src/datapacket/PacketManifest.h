#pragma once

#include <QByteArray>
#include <QString>
#include <QVector>

// The packet's own record of what it holds: one line per chunk file with its
// table, chunk number, name, row count and SHA-256 checksum. It lets the
// installer tell a whole packet from one that lost a chunk or a row on the
// way, which the chunk files alone cannot show.
//
// The file is UTF-8 text, lines ended by CR LF:
//   NOMPACK-MANIFEST 1
//   <table> TAB <chunk number> TAB <file name> TAB <rows> TAB <sha-256, 64 hex digits>
// A table without rows has no chunk file and so no line.
struct TManifestChunk {
  QString Table;
  int ChunkNo = 0;
  QString FileName;
  int Rows = 0;
  QByteArray Checksum;  // lower-case hex
};

class TPacketManifest {
 public:
  static inline const QString kFileName = QStringLiteral("packet.manifest");
  static inline const QByteArray kFormatMarker = QByteArrayLiteral("NOMPACK-MANIFEST");
  static constexpr int kFormatVersion = 1;

  QVector<TManifestChunk> Chunks;

  // The line of that file name (exact comparison); nullptr when not listed.
  const TManifestChunk* Find(const QString& fileName) const;
  TManifestChunk* Find(const QString& fileName);
  // The tables that have lines, in order of first appearance.
  QStringList Tables() const;

  QByteArray ToBytes() const;
  // Throws ENompackError naming `sourceName` and the line when the text is no
  // manifest of a version this program knows, or contradicts itself (a file
  // name that is not its table's chunk name, a file listed twice).
  static TPacketManifest FromBytes(const QByteArray& data, const QString& sourceName);

  // Both throw ENompackError (File) when the file cannot be read or written;
  // the save replaces the file only once the new one is complete.
  static TPacketManifest LoadFromFile(const QString& fileName);
  void SaveToFile(const QString& fileName) const;
};

// SHA-256 of the file's bytes as lower-case hex; ENompackError (File) when the
// file cannot be read.
QByteArray FileChecksum(const QString& fileName);
// The same checksum of bytes in memory (those just written to a file).
QByteArray BytesChecksum(const QByteArray& data);

// Brings the manifest beside a just saved chunk file up to date with the
// file's checksum and `rows`, so that a repaired chunk still installs. False
// when no manifest lies beside it or it does not list the file; throws
// ENompackError when the manifest cannot be read or written.
bool UpdateManifestForChunk(const QString& chunkPath, int rows);
