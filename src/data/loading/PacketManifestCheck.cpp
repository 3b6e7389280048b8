#include "PacketManifestCheck.h"

#include <QFileInfo>

#include "AppMiscFiles.h"
#include "ClientDataSet.h"
#include "PacketLayout.h"

namespace {

int CountChunkRows(const QString& path) {
  TClientDataSet chunk;
  chunk.LoadFromFile(path);
  return chunk.RecordCount();
}

QStringList TableChunkFiles(const QString& packetFolder, const QString& table) {
  QStringList files = GetFileList(packetFolder, PacketLayout::ChunkFileMask(table));
  SortChunkFiles(files);
  return files;
}

}  // namespace

void WritePacketManifest(const QString& packetFolder, const QStringList& tables) {
  TPacketManifest manifest;
  for (const QString& table : tables) {
    for (const QString& file : TableChunkFiles(packetFolder, table)) {
      TManifestChunk chunk;
      chunk.Table = table;
      chunk.ChunkNo = GetChunkIndex(file);
      chunk.FileName = file;
      chunk.Rows = CountChunkRows(packetFolder + file);
      chunk.Checksum = FileChecksum(packetFolder + file);
      manifest.Chunks.append(chunk);
    }
  }
  manifest.SaveToFile(packetFolder + TPacketManifest::kFileName);
}

QString PacketManifestError(const QString& packetFolder, const QStringList& tables,
                            const TPacketManifest& manifest, const TCheckedChunks& checked) {
  const QString& manifestName = TPacketManifest::kFileName;
  for (const QString& table : manifest.Tables()) {
    if (!tables.contains(table))
      return QStringLiteral(
                 "Таблица %1 е записана в %2, но липсва във файла с описание: пакетът е "
                 "непълен.")
          .arg(table, manifestName);
  }
  for (const QString& table : tables) {
    // What the installer will load for the table, found the way it finds it.
    const auto listed = checked.TableFiles.constFind(table);
    const QStringList files =
        listed != checked.TableFiles.cend() ? listed.value() : TableChunkFiles(packetFolder, table);
    for (const TManifestChunk& chunk : manifest.Chunks) {
      if (chunk.Table != table) continue;
      const QString path = packetFolder + chunk.FileName;
      const auto known = checked.Checksums.constFind(chunk.FileName);
      if (known == checked.Checksums.cend() && !QFileInfo(path).isFile())
        return QStringLiteral("Липсва файл \"%1\" на таблица %2, записан в %3: пакетът е непълен.")
            .arg(chunk.FileName, table, manifestName);
      const QByteArray checksum =
          known != checked.Checksums.cend() ? known.value() : FileChecksum(path);
      if (checksum != chunk.Checksum)
        return QStringLiteral(
                   "Файлът \"%1\" на таблица %2 е различен от записания в %3 (контролната "
                   "сума не съвпада): файлът е повреден или променен.")
            .arg(chunk.FileName, table, manifestName);
      const auto counted = checked.Rows.constFind(chunk.FileName);
      const int rows = counted != checked.Rows.cend() ? counted.value() : CountChunkRows(path);
      if (rows != chunk.Rows)
        return QStringLiteral("Файлът \"%1\" на таблица %2 съдържа %3 реда, а в %4 са записани %5.")
            .arg(chunk.FileName, table)
            .arg(rows)
            .arg(manifestName)
            .arg(chunk.Rows);
    }
    for (const QString& file : files) {
      const TManifestChunk* chunk = manifest.Find(file);
      if (!chunk || chunk->Table != table)
        return QStringLiteral("Файлът \"%1\" на таблица %2 не е записан в %3.")
            .arg(file, table, manifestName);
    }
  }
  return QString();
}
