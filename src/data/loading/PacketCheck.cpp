#include "PacketCheck.h"

#include <QFileInfo>
#include <QHash>
#include <algorithm>

#include "AppMiscFiles.h"
#include "AppView.h"
#include "ChunkFindings.h"
#include "ChunkSequenceCheck.h"
#include "DescriptorCheck.h"
#include "Identifiers.h"
#include "NompackError.h"
#include "PacketLayout.h"
#include "PacketManifestCheck.h"

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
                               TPacketContents& contents, QString& errorText,
                               const TChunkFindings* extracted) {
  contents.Tables.clear();
  try {
    const QStringList lines = LoadStringList(descriptorPath);
    const QString descriptorError = DescriptorError(lines);
    if (!descriptorError.isEmpty()) throw ENompackError(descriptorError);
    const QStringList tables = DescriptorTables(lines);
    TCheckedChunks checked;
    // One listing of the folder serves every table's mask.
    const QStringList folderFiles = GetFileList(packetFolder, QStringLiteral("*"));
    int fileCount = 0;
    for (const QString& table : tables) {
      RequirePlainTableName(table);
      TPacketTable entry;
      entry.Name = table;
      const QString mask = PacketLayout::ChunkFileMask(table);
      for (const QString& file : folderFiles) {
        if (MatchFileMask(file, mask)) entry.ChunkFiles.append(file);
      }
      SortChunkFiles(entry.ChunkFiles);
      const QString sequenceError = ChunkSequenceError(table, entry.ChunkFiles);
      if (!sequenceError.isEmpty()) throw ENompackError(sequenceError);
      fileCount += entry.ChunkFiles.size();
      checked.TableFiles.insert(table, entry.ChunkFiles);
      contents.Tables.append(entry);
    }
    const QString caption = QStringLiteral("Проверка на пакета...");
    int filesRead = 0;
    for (TPacketTable& table : contents.Tables) {
      for (const QString& file : table.ChunkFiles) {
        FView.ShowInstallProgress(caption, ++filesRead, fileCount);
        // One reading (the extraction's, or one here) gives both the rows
        // and the checksum the manifest check compares.
        const TChunkFinding* known = extracted ? extracted->Find(file) : nullptr;
        const TChunkFinding read =
            known ? TChunkFinding() : TChunkFinding::OfFile(packetFolder + file);
        const TChunkFinding& chunk = known ? *known : read;
        if (chunk.Failure) std::rethrow_exception(chunk.Failure);
        checked.Checksums.insert(file, chunk.Checksum);
        for (const TFieldDef& def : chunk.Fields) {
          RequirePlainColumnName(table.Name, def.Name);
          const bool known = std::any_of(
              table.Columns.cbegin(), table.Columns.cend(), [&](const TPacketColumn& c) {
                return c.Def.Name.compare(def.Name, Qt::CaseInsensitive) == 0;
              });
          if (!known) table.Columns.append({def, file});
        }
        table.TotalRows += chunk.Rows;
        checked.Rows.insert(file, chunk.Rows);
      }
    }
    // Packets made elsewhere or earlier have no manifest; they install on
    // the checks above.
    const QString manifestPath = packetFolder + TPacketManifest::kFileName;
    if (QFileInfo(manifestPath).isFile()) {
      const TPacketManifest manifest = TPacketManifest::LoadFromFile(manifestPath);
      const QString manifestError = PacketManifestError(packetFolder, tables, manifest, checked);
      if (!manifestError.isEmpty()) throw ENompackError(manifestError);
      // Kept for the installation's summary, which compares what was loaded
      // with what the packet was made with.
      for (TPacketTable& table : contents.Tables) {
        table.ManifestRows = 0;
        for (const TManifestChunk& chunk : manifest.Chunks)
          if (chunk.Table == table.Name) table.ManifestRows += chunk.Rows;
      }
    }
    return true;
  } catch (const ENompackError& e) {
    contents.Tables.clear();
    errorText = e.Message();
    return false;
  }
}
