#include "Exporter.h"

#include <QSet>

#include "AppView.h"
#include "ChunkSink.h"
#include "ChunkWriteAttempts.h"
#include "ClientDataSet.h"
#include "DataModule.h"
#include "ExportSource.h"
#include "Identifiers.h"
#include "NompackError.h"
#include "PacketLayout.h"
#include "ReadSnapshot.h"

namespace {

QString ExportContext(const QString& table, int chunkNo) {
  return QStringLiteral("exporting %1, chunk %2").arg(table).arg(chunkNo);
}

// Remembers the IDs of a table's chunks, so that a row read twice (rows that
// moved during a read without a snapshot) is caught.
class TIdTracker {
 public:
  // The value already seen, as text; empty when every ID of the page is new.
  QString AddPage(const TClientDataSet& page) {
    const int field = page.FindField(QStringLiteral("ID"));
    if (field < 0) return QString();
    for (const QVector<Variant>& row : page.Rows()) {
      const Variant& id = row.at(field);
      if (id.IsNullOrEmpty()) continue;
      if (id.IsInteger()) {
        const qint64 value = id.ToInt64();
        if (FInts.contains(value)) return QString::number(value);
        FInts.insert(value);
      } else {
        const QString value = id.ToString();
        if (FTexts.contains(value)) return value;
        FTexts.insert(value);
      }
    }
    return QString();
  }

 private:
  QSet<qint64> FInts;
  QSet<QString> FTexts;
};

}  // namespace

QByteArray ChunkFileBytes(const TClientDataSet& DataSet) {
  if (DataSet.RecNo() <= 1) return DataSet.SaveToBytes(TDataPacketFormat::SingleByte);
  // Rows before the current one are not part of the packet.
  TClientDataSet rest;
  for (const TFieldDef& def : DataSet.FieldDefs()) rest.AddFieldDef(def);
  const auto& rows = DataSet.Rows();
  for (int i = DataSet.RecNo() - 1; i < rows.size(); ++i) rest.AppendRow(rows.at(i));
  return rest.SaveToBytes(TDataPacketFormat::SingleByte);
}

QByteArray SaveDataSetToXML(const TClientDataSet& DataSet, const QString& FileName) {
  const QByteArray data = ChunkFileBytes(DataSet);
  TClientDataSet::WriteWorkFile(FileName, data);
  return BytesChecksum(data);
}

TExporter::TExporter(TDM& dm, IAppView& view)
    : FDM(dm), FView(view), FChunkWriter(&SaveDataSetToXML) {}

int TExporter::GetFBRowCount(const QString& TableName) {
  return MakeExportSource(DataBaseType::FireBird, FDM)->RowCount(TableName);
}

int TExporter::GetMySQLRowCount(const QString& TableName) {
  return MakeExportSource(DataBaseType::MySQL, FDM)->RowCount(TableName);
}

int TExporter::GetMSSQLRowCount(const QString& TableName) {
  return MakeExportSource(DataBaseType::MSSQL, FDM)->RowCount(TableName);
}

QStringList TExporter::GetMSSQLFieldNames(const QString& TableName) {
  RequirePlainTableName(TableName);
  return FDM.MSSQLCon().ColumnNames(TableName);
}

bool TExporter::MSSQLTableHasID(const QString& TableName) {
  return HasIDColumn(GetMSSQLFieldNames(TableName));
}

QString TExporter::BuildMSSQLPageQuery(const QString& TableName) {
  return ::BuildMSSQLPageQuery(TableName, GetMSSQLFieldNames(TableName));
}

QByteArray TExporter::WriteChunk(const TClientDataSet& page, const QString& fileName) {
  return WriteWithAttempts([&] { return FChunkWriter(page, fileName); });
}

void TExporter::ExportTable(TExportSource& source, const QString& TableName, const QString& Folder,
                            int ChunkSize, int& RowsDone) {
  RowsDone = 0;
  RequirePlainTableName(TableName);
  if (ChunkSize <= 0)
    throw ENompackError(QStringLiteral("Invalid chunk size %1").arg(ChunkSize),
                        ENompackError::Kind::Assertion);
  int ChunkNo = 1;
  IConnection& connection = source.Connection();
  TReadSnapshot snapshot(connection);
  const int Total = source.RowCount(TableName);
  source.BeginTable(TableName);
  const QString sql = source.ReadStatement();
  if (FPageStatementObserver) FPageStatementObserver(sql);
  std::unique_ptr<ICursor> cursor;
  try {
    cursor = connection.OpenCursor(sql);
  } catch (ENompackError& e) {
    e.AddContext(ExportContext(TableName, ChunkNo));
    throw;
  }
  TIdTracker ids;
  for (;;) {
    std::unique_ptr<TClientDataSet> chunk;
    try {
      chunk = cursor->FetchDataSet(ChunkSize);
    } catch (ENompackError& e) {
      e.AddContext(ExportContext(TableName, ChunkNo));
      throw;
    }
    const int rowCount = chunk->RecordCount();
    if (rowCount == 0) break;
    RowsDone += rowCount;

    const QString repeated = ids.AddPage(*chunk);
    if (!repeated.isEmpty()) {
      throw ENompackError(
          QStringLiteral("Таблица %1: редът с ID %2 е прочетен повторно в част %3. Редовете на "
                         "таблицата са се променили по време на изнасянето.")
              .arg(TableName, repeated)
              .arg(ChunkNo))
          .AddContext(ExportContext(TableName, ChunkNo));
    }
    const QString chunkName = PacketLayout::ChunkFileName(TableName, ChunkNo);
    if (FChunkSink) {
      QByteArray bytes;
      try {
        bytes = ChunkFileBytes(*chunk);
      } catch (ENompackError& e) {
        e.AddContext(ExportContext(TableName, ChunkNo));
        throw;
      }
      const QByteArray checksum = BytesChecksum(bytes);
      // What this throws is an earlier chunk's failure and names that chunk.
      FChunkSink->PutChunk(Folder, chunkName, std::move(bytes), checksum,
                           ExportContext(TableName, ChunkNo));
      FWrittenChunks.append({TableName, ChunkNo, chunkName, rowCount, checksum});
    } else {
      try {
        const QByteArray checksum = WriteChunk(*chunk, Folder + chunkName);
        FWrittenChunks.append({TableName, ChunkNo, chunkName, rowCount, checksum});
      } catch (ENompackError& e) {
        e.AddContext(ExportContext(TableName, ChunkNo));
        throw;
      }
    }
    ++ChunkNo;
    // Window messages run here; the chunk is released by then (and on disk,
    // unless a sink writes it).
    chunk.reset();
    FView.ShowTableProgress(RowsDone, Total);
    // A stop asked meanwhile ends the table here; the run removes what it wrote.
    ThrowIfStopRequested(FView);
  }
  cursor->Close();
  cursor.reset();
  snapshot.End();
  // Lost or repeated rows show as a different number of rows.
  if (RowsDone != Total) {
    throw ENompackError(
        QStringLiteral("Таблица %1: изнесени са %2 реда, а преброените са %3. Редовете на "
                       "таблицата са се променили по време на изнасянето.")
            .arg(TableName)
            .arg(RowsDone)
            .arg(Total))
        .AddContext(ExportContext(TableName, ChunkNo - 1));
  }
}

void TExporter::ExportFBTable(const QString& TableName, const QString& Folder, int ChunkSize,
                              int& RowsDone) {
  ExportTable(*MakeExportSource(DataBaseType::FireBird, FDM), TableName, Folder, ChunkSize,
              RowsDone);
}

void TExporter::ExportMySQLTable(const QString& TableName, const QString& Folder, int ChunkSize,
                                 int& RowsDone) {
  ExportTable(*MakeExportSource(DataBaseType::MySQL, FDM), TableName, Folder, ChunkSize, RowsDone);
}

void TExporter::ExportMSSQLTable(const QString& TableName, const QString& Folder, int ChunkSize,
                                 int& RowsDone) {
  ExportTable(*MakeExportSource(DataBaseType::MSSQL, FDM), TableName, Folder, ChunkSize, RowsDone);
}
