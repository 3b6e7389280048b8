#pragma once

#include <QString>
#include <QStringList>
#include <functional>

#include "ChunkWriteAttempts.h"
#include "DataBaseType.h"
#include "PacketManifest.h"

class IAppView;
class IChunkSink;
class TClientDataSet;
class TDM;
class TExportSource;
class TQuery;

// The export of one table into chunk files, on the data module's
// connection of the kind. The table is counted, then read with one
// statement whose rows are cut, as they arrive, into chunk files
// "%s[%d].xml" of ChunkSize rows; only one chunk is held in memory, and the
// table bar advances after every chunk. Count and read run in one read
// snapshot (the caller's, or one of the table's own), so a table that
// changes meanwhile is exported as it was when the snapshot began.
//
// Where the server gives no snapshot (ODBC), rows may change between the
// count and the read; the export counts what it wrote against the count
// and, where the table has an ID column, refuses an ID seen twice; a
// difference is an error (ENompackError), not a packet.
class TExporter {
 public:
  TExporter(TDM& dm, IAppView& view);

  // Writes TableName's rows into Folder (ends with a separator) as chunks of
  // ChunkSize rows; RowsDone counts the rows written. Precondition: the
  // kind's connection is open. Errors propagate (ENompackError), with the
  // table and chunk as context; chunk files already written stay. A stop
  // the user asked for is looked at after every chunk and propagates as
  // the stop's error.
  void ExportFBTable(const QString& TableName, const QString& Folder, int ChunkSize, int& RowsDone);
  void ExportMySQLTable(const QString& TableName, const QString& Folder, int ChunkSize,
                        int& RowsDone);
  void ExportMSSQLTable(const QString& TableName, const QString& Folder, int ChunkSize,
                        int& RowsDone);

  // "SELECT COUNT(*) TOTAL_COUNT FROM %s;" on the kind's connection.
  int GetFBRowCount(const QString& TableName);
  int GetMySQLRowCount(const QString& TableName);
  int GetMSSQLRowCount(const QString& TableName);

  // The MSSQL page statement of the table with two %d (first and last row
  // number), rows numbered by ID; empty for a table without an ID column.
  QString BuildMSSQLPageQuery(const QString& TableName);
  bool MSSQLTableHasID(const QString& TableName);
  // The column names of the MSSQL catalogue, in its order and letter case.
  QStringList GetMSSQLFieldNames(const QString& TableName);

  // For tests: what writes a chunk (SaveDataSetToXML unless replaced; it
  // returns the checksum of the bytes it wrote), and an observer of every
  // reading statement as it is run.
  using TChunkWriter =
      std::function<QByteArray(const TClientDataSet& page, const QString& fileName)>;
  void SetChunkWriter(TChunkWriter writer) { FChunkWriter = std::move(writer); }
  void SetPageStatementObserver(std::function<void(const QString&)> observer) {
    FPageStatementObserver = std::move(observer);
  }

  // The export of one table from the source a run picked for its kind.
  void ExportTable(TExportSource& source, const QString& TableName, const QString& Folder,
                   int ChunkSize, int& RowsDone);

  // Chunk writes made per chunk before the failure is given up.
  static constexpr int kWriteAttempts = kChunkWriteAttempts;

  // Hands every chunk's bytes to `sink` (not owned; null: none) instead of
  // writing the file here; the chunk writer above is then not used.
  void SetChunkSink(IChunkSink* sink) { FChunkSink = sink; }

  // Every chunk file written so far, in the order written, with the rows it
  // holds and the checksum of the bytes written to it: the packet's
  // manifest, without reading any chunk back.
  const QVector<TManifestChunk>& WrittenChunks() const { return FWrittenChunks; }

 private:
  TDM& FDM;
  IAppView& FView;
  TChunkWriter FChunkWriter;
  std::function<void(const QString&)> FPageStatementObserver;
  IChunkSink* FChunkSink = nullptr;
  QVector<TManifestChunk> FWrittenChunks;

  QByteArray WriteChunk(const TClientDataSet& page, const QString& fileName);
};

// The bytes of the chunk file of every row of DataSet from its current row
// on, with its field definitions, as a single-byte data packet.
QByteArray ChunkFileBytes(const TClientDataSet& DataSet);

// Writes every row of DataSet from its current row on, with its field
// definitions, to FileName as a single-byte data packet; creates or replaces
// the file, which the packing reads right after (not forced to the disk).
// Returns the SHA-256 (lower-case hex) of the bytes written, the checksum the
// manifest lists. Errors propagate (ENompackError).
QByteArray SaveDataSetToXML(const TClientDataSet& DataSet, const QString& FileName);
