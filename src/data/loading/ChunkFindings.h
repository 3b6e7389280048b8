#pragma once

#include <QByteArray>
#include <QHash>
#include <QString>
#include <QVector>
#include <exception>

#include "FieldType.h"

// What the packet check needs of one chunk file: its rows, its checksum and
// its columns, or the failure reading it gave.
struct TChunkFinding {
  int Rows = 0;
  QByteArray Checksum;  // SHA-256, hex
  QVector<TFieldDef> Fields;
  std::exception_ptr Failure;

  // The finding of the file's bytes; `path` is the name its failure names.
  static TChunkFinding OfBytes(const QByteArray& bytes, const QString& path);
  // The same of the file on disk (a file that cannot be opened fails as
  // the dataset's loading would).
  static TChunkFinding OfFile(const QString& path);
};

// Findings of the chunk files of one unpacking, taken from the bytes as
// they were extracted, so that the packet check need not read the files
// back. The check still walks the files in its own order and stops at the
// first failure there, so the messages are those of reading the files.
class TChunkFindings {
 public:
  // Takes the entry's findings when it is a chunk file (not the descriptor
  // or the manifest); `path` is the file it was extracted to.
  void Examine(const QString& name, const QString& path, const QByteArray& bytes);
  // The finding of the file of that bare name, nullptr when not examined.
  const TChunkFinding* Find(const QString& name) const;
  void Clear();
  int Size() const { return FFindings.size(); }

 private:
  QHash<QString, TChunkFinding> FFindings;
  // Chunks of one table have the same columns: one shared copy serves them.
  QVector<TFieldDef> FLastFields;
};
