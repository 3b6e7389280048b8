#pragma once

#include <QString>
#include <QStringList>
#include <QVector>

class IAppView;

// A packet comes from elsewhere: its table names (descriptor lines) and
// column names (chunk field definitions) end up in SQL text unquoted, so only
// plain identifiers may get there: a Latin letter or "_" first, then Latin
// letters, digits, "_" or "$".
bool IsPlainIdentifier(const QString& name);
// The message for a table name that is no plain identifier.
QString PlainTableNameError(const QString& table);
// ENompackError with that message when the name is no plain identifier.
void RequirePlainTableName(const QString& table);
// The same for a column of a table.
QString PlainColumnNameError(const QString& table, const QString& column);
void RequirePlainColumnName(const QString& table, const QString& column);

// One table of a checked packet: its chunk files in loading order and the
// number of rows they hold together.
struct TPacketTable {
  QString Name;
  QStringList ChunkFiles;
  int TotalRows = 0;
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
  bool CheckPacket(const QString& packetFolder, const QString& descriptorPath,
                   TPacketContents& contents, QString& errorText);

 private:
  IAppView& FView;
};

// The descriptor's table names: its lines without a first line holding "{".
QStringList DescriptorTables(const QStringList& descriptorLines);
// The table names of the descriptor file; an empty file is no descriptor
// (ENompackError), nor is one that cannot be read.
QStringList LoadDescriptorTables(const QString& descriptorPath);
