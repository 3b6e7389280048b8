#pragma once

#include <QString>
#include <QStringList>
#include <QVector>

#include "FieldType.h"

class IAppView;
class TChunkFindings;

// A column of a table's chunk files and the first file that has it.
struct TPacketColumn {
  TFieldDef Def;
  QString ChunkFile;
};

// One table of a checked packet: its chunk files in loading order, the
// number of rows they hold together and their columns (each name once,
// letter case ignored, in order of first appearance).
struct TPacketTable {
  QString Name;
  QStringList ChunkFiles;
  int TotalRows = 0;
  // The rows the packet's manifest lists for the table (its chunks' rows
  // together), -1 for a packet without a manifest.
  int ManifestRows = -1;
  QVector<TPacketColumn> Columns;
  // The columns the target's table lacks, which the installation adds
  // before it changes any data (MySQL only; a Firebird target lacking a
  // column is refused). Filled by the target's check.
  QVector<TFieldDef> MissingColumns;
};

// What the check found: the descriptor's tables in descriptor order.
struct TPacketContents {
  QVector<TPacketTable> Tables;
  // The entry of that table name (exact comparison); nullptr when missing.
  const TPacketTable* Find(const QString& table) const;
};

// Reads the descriptor and every chunk file of an unpacked packet once,
// before the target is touched, so that a packet that cannot be installed
// whole is refused while the target still holds its data. The row counts it
// gathers spare the loader a second reading for counting.
class TPacketCheck {
 public:
  explicit TPacketCheck(IAppView& view) : FView(view) {}

  // False with the error text when the descriptor is empty or names what a
  // generation does not write, a table's chunks are not numbered 1..n, the
  // folder differs from the packet's manifest (when it has one), a table or
  // column name is no plain identifier, or a chunk file does not load as a
  // data packet. Progress goes to the install bar without log lines.
  // `extracted` holds what the unpacking found in the chunk files' bytes;
  // a file it does not hold is read here.
  bool CheckPacket(const QString& packetFolder, const QString& descriptorPath,
                   TPacketContents& contents, QString& errorText,
                   const TChunkFindings* extracted = nullptr);

 private:
  IAppView& FView;
};

// The descriptor's table names: its lines without a first line holding "{".
QStringList DescriptorTables(const QStringList& descriptorLines);
// The table names of the descriptor file; an empty file is no descriptor
// (ENompackError), nor is one that cannot be read.
QStringList LoadDescriptorTables(const QString& descriptorPath);
