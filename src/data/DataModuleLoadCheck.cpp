#include "DataModuleLoadCheck.h"

#include <QFileInfo>
#include <QHash>

#include "AppMiscFiles.h"
#include "AppView.h"
#include "ChunkSequenceCheck.h"
#include "ClientDataSet.h"
#include "DescriptorCheck.h"
#include "NompackError.h"
#include "PacketLayout.h"
#include "PacketManifestCheck.h"

namespace {

const QString kAllowedCharacters = QStringLiteral(
    "позволени са само латински букви, цифри, \"_\" и \"$\", като първият знак е буква или \"_\"");

bool IsLatinLetter(QChar c) {
  return (c >= QLatin1Char('A') && c <= QLatin1Char('Z')) ||
         (c >= QLatin1Char('a') && c <= QLatin1Char('z'));
}

}  // namespace

bool IsPlainIdentifier(const QString& name) {
  if (name.isEmpty()) return false;
  if (!IsLatinLetter(name[0]) && name[0] != QLatin1Char('_')) return false;
  for (const QChar c : name) {
    if (!IsLatinLetter(c) && !(c >= QLatin1Char('0') && c <= QLatin1Char('9')) &&
        c != QLatin1Char('_') && c != QLatin1Char('$'))
      return false;
  }
  return true;
}

QString PlainTableNameError(const QString& table) {
  return QStringLiteral("Невалидно име на таблица \"%1\": %2.").arg(table, kAllowedCharacters);
}

void RequirePlainTableName(const QString& table) {
  if (!IsPlainIdentifier(table)) throw ENompackError(PlainTableNameError(table));
}

QString PlainColumnNameError(const QString& table, const QString& column) {
  return QStringLiteral("Невалидно име на колона \"%1\" в таблица %2: %3.")
      .arg(column, table, kAllowedCharacters);
}

void RequirePlainColumnName(const QString& table, const QString& column) {
  if (!IsPlainIdentifier(column)) throw ENompackError(PlainColumnNameError(table, column));
}

const TPacketTable* TPacketContents::Find(const QString& table) const {
  for (const TPacketTable& t : Tables) {
    if (t.Name == table) return &t;
  }
  return nullptr;
}

QStringList DescriptorTables(const QStringList& descriptorLines) {
  QStringList tables = descriptorLines;
  if (!tables.isEmpty() && tables.first().contains(QLatin1Char('{'))) tables.removeFirst();
  return tables;
}

QStringList LoadDescriptorTables(const QString& descriptorPath) {
  const QStringList lines = LoadStringList(descriptorPath);
  if (lines.isEmpty()) throw ENompackError(QStringLiteral("Празен файл с описание!"));
  return DescriptorTables(lines);
}

bool TPacketCheck::CheckPacket(const QString& packetFolder, const QString& descriptorPath,
                               TPacketContents& contents, QString& errorText) {
  contents.Tables.clear();
  try {
    const QStringList lines = LoadStringList(descriptorPath);
    const QString descriptorError = DescriptorError(lines);
    if (!descriptorError.isEmpty()) throw ENompackError(descriptorError);
    const QStringList tables = DescriptorTables(lines);
    int fileCount = 0;
    for (const QString& table : tables) {
      RequirePlainTableName(table);
      TPacketTable entry;
      entry.Name = table;
      entry.ChunkFiles = GetFileList(packetFolder, PacketLayout::ChunkFileMask(table));
      SortChunkFiles(entry.ChunkFiles);
      const QString sequenceError = ChunkSequenceError(table, entry.ChunkFiles);
      if (!sequenceError.isEmpty()) throw ENompackError(sequenceError);
      fileCount += entry.ChunkFiles.size();
      contents.Tables.append(entry);
    }
    const QString caption = QStringLiteral("Проверка на пакета...");
    int filesRead = 0;
    QHash<QString, int> chunkRows;
    TClientDataSet chunk;
    for (TPacketTable& table : contents.Tables) {
      for (const QString& file : table.ChunkFiles) {
        FView.ShowInstallProgress(caption, ++filesRead, fileCount);
        chunk.Close();
        chunk.LoadFromFile(packetFolder + file);
        for (const TFieldDef& def : chunk.FieldDefs()) RequirePlainColumnName(table.Name, def.Name);
        table.TotalRows += chunk.RecordCount();
        chunkRows.insert(file, chunk.RecordCount());
      }
    }
    // Packets made elsewhere or earlier have no manifest; they install on
    // the checks above.
    const QString manifestPath = packetFolder + TPacketManifest::kFileName;
    if (QFileInfo(manifestPath).isFile()) {
      const QString manifestError = PacketManifestError(
          packetFolder, tables, TPacketManifest::LoadFromFile(manifestPath), chunkRows);
      if (!manifestError.isEmpty()) throw ENompackError(manifestError);
    }
    return true;
  } catch (const ENompackError& e) {
    contents.Tables.clear();
    errorText = e.Message();
    return false;
  }
}
