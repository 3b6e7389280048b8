#include "PacketCheck.h"

#include "AppMiscFiles.h"
#include "AppView.h"
#include "ClientDataSet.h"
#include "Identifiers.h"
#include "NompackError.h"
#include "PacketLayout.h"

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
    int fileCount = 0;
    for (const QString& table : LoadDescriptorTables(descriptorPath)) {
      RequirePlainTableName(table);
      TPacketTable entry;
      entry.Name = table;
      entry.ChunkFiles = GetFileList(packetFolder, PacketLayout::ChunkFileMask(table));
      SortChunkFiles(entry.ChunkFiles);
      fileCount += entry.ChunkFiles.size();
      contents.Tables.append(entry);
    }
    const QString caption = QStringLiteral("Проверка на пакета...");
    int filesRead = 0;
    TClientDataSet chunk;
    for (TPacketTable& table : contents.Tables) {
      for (const QString& file : table.ChunkFiles) {
        FView.ShowInstallProgress(caption, ++filesRead, fileCount);
        chunk.Close();
        chunk.LoadFromFile(packetFolder + file);
        for (const TFieldDef& def : chunk.FieldDefs()) RequirePlainColumnName(table.Name, def.Name);
        table.TotalRows += chunk.RecordCount();
      }
    }
    return true;
  } catch (const ENompackError& e) {
    contents.Tables.clear();
    errorText = e.Message();
    return false;
  }
}
