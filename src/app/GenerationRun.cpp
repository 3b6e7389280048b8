#include "GenerationRun.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>

#include "AppMiscFiles.h"
#include "AppView.h"
#include "Archiver.h"
#include "DataModule.h"
#include "ExportSource.h"
#include "Exporter.h"
#include "NompackError.h"
#include "PacketLayout.h"
#include "PacketManifest.h"
#include "PacketPacker.h"
#include "QBMisc.h"
#include "ReadSnapshot.h"
#include "RunLog.h"

namespace {

constexpr int kChunkSize = 50;

const QString kSuccessText = QStringLiteral("Процесът приключи успешно!");

// "1:02:03" for hours, minutes and seconds.
QString DurationText(qint64 milliseconds) {
  const qint64 seconds = (milliseconds + 500) / 1000;
  return QStringLiteral("%1:%2:%3")
      .arg(seconds / 3600)
      .arg(seconds / 60 % 60, 2, 10, QLatin1Char('0'))
      .arg(seconds % 60, 2, 10, QLatin1Char('0'));
}

// Throws the exception being handled again with `text` added to its
// message, so that the user reads it with the failure.
[[noreturn]] void RethrowWithText(const QString& text) {
  try {
    throw;
  } catch (const ENompackError& e) {
    ENompackError more(e.Message() + QStringLiteral("\n") + text, e.ErrorKind(), e.ServerText(),
                       e.NativeCode());
    for (const QString& context : e.Context()) more.AddContext(context);
    throw more;
  } catch (const std::exception& e) {
    throw ENompackError(QString::fromLocal8Bit(e.what()) + QStringLiteral("\n") + text);
  }
}

}  // namespace

QStringList TGenerationRun::SummaryLines(const QString& packetFile, qint64 packetSize,
                                         const QList<QPair<QString, int>>& tableRows,
                                         qint64 milliseconds) {
  QStringList lines;
  lines.append(QStringLiteral("Пакетът е записан във файла: %1").arg(packetFile));
  lines.append(QStringLiteral("Размер на пакета: %1 байта").arg(packetSize));
  lines.append(QStringLiteral("Редове по таблици:"));
  qint64 total = 0;
  for (const auto& [table, rows] : tableRows) {
    lines.append(QStringLiteral("  %1: %2").arg(table).arg(rows));
    total += rows;
  }
  lines.append(QStringLiteral("Общо редове: %1 в %2 таблици").arg(total).arg(tableRows.size()));
  lines.append(QStringLiteral("Продължителност: %1").arg(DurationText(milliseconds)));
  return lines;
}

TGenerationRun::TGenerationRun(TRunContext& context) : FContext(context) {}

void TGenerationRun::GenerateExport() {
  GeneratePacket(FContext.Settings().DataBaseType);
}

void TGenerationRun::GenerateMySQLPacket() {
  GeneratePacket(DataBaseType::MySQL);
}
void TGenerationRun::GenerateFBPacket() {
  GeneratePacket(DataBaseType::FireBird);
}
void TGenerationRun::GenerateMSSQLPacket() {
  GeneratePacket(DataBaseType::MSSQL);
}

void TGenerationRun::GeneratePacket(DataBaseType kind) {
  // A second run would share the data module's connections and page queries.
  if (FRunning) return;
  TReentrancyGuard guard(FRunning);
  FLastPacketFile.clear();
  QElapsedTimer timer;
  timer.start();
  // The log is saved before the progress reset, the run's last step.
  try {
    TRunLog log(FContext.DM, FContext.View, QStringLiteral("Генериране на пакет"));
    try {
      CreatePacketFolder(DataBaseTag(kind));
      // Named after the packet file the run makes, also when it fails before
      // that file exists: the technician finds both by the same name.
      log.SetFile(PacketLayout::PacketFileName(PacketLayout::ArchiveName(FContext.PacketFolder),
                                               DataBasePacketExtension(kind)) +
                  QStringLiteral(".log"));
      ExportPacket(kind, log, timer);
    } catch (const std::exception& e) {
      log.RecordFailure(e);
      throw;
    }
  } catch (...) {
    FContext.View.ResetExportProgress();
    throw;
  }
  FContext.View.ResetExportProgress();
}

QString TGenerationRun::CreatePacketFolder(const QString& tag) {
  const QString exportFolder = FContext.Settings().ExportFolder;
  FContext.PacketFolder =
      PacketLayout::PacketFolder(exportFolder, PacketLayout::BuildPacketName(tag));
  // One level only; a folder that cannot be made shows as the failure of the
  // descriptor write that follows.
  if (!QDir(FContext.PacketFolder).exists()) QDir().mkdir(FContext.PacketFolder);
  return FContext.PacketFolder;
}

QString TGenerationRun::GetFBConnectString() const {
  return FBConnectString(FContext.Settings());
}

QStringList TGenerationRun::WriteTablesDescr(const QString& version) {
  const QStringList lines = PacketLayout::TablesDescrLines(version);
  SaveStringList(lines, FContext.PacketFolder + PacketLayout::kDescriptorFileName);
  return lines;
}

void TGenerationRun::ExportPacket(DataBaseType kind, IAppView& view, const QElapsedTimer& timer) {
  TDM& dm = FContext.DM;
  const TRunSettings settings = FContext.Settings();

  QString errorText;
  if (!dm.Connect(kind, ConnectParams(settings), errorText)) {
    view.ShowError(errorText);
    return;
  }
  TArchiver archiver(FContext.ProgramFolder);
  const QString tmpArchive =
      PacketLayout::ArchiveName(FContext.PacketFolder) + QStringLiteral(".tmp");
  // An archive of that name from before is not this run's to remove.
  const bool tmpExisted = QFileInfo::exists(tmpArchive);
  // The chunks go into the archive as they are made, on a thread of their
  // own, and become files only if the run ends without a packet; unless the
  // rar program packs (it takes the finished folder) or the archive's name
  // is taken (packing refuses that below, as it always has).
  // An archive that cannot be made now is left to the packing below too,
  // which says why.
  std::unique_ptr<TPacketPacker> packer;
  if (!tmpExisted && archiver.RarProgram().isEmpty()) {
    packer = std::make_unique<TPacketPacker>(FContext.PacketFolder, tmpArchive);
    QString startError;
    if (!packer->Start(startError)) packer.reset();
  }

  // What the export counted, for the summary after the notice.
  QList<QPair<QString, int>> tableRows;
  try {
    ExportTables(kind, view, tableRows, packer.get());
  } catch (...) {
    // A signal can break off a server call; a stop the user asked for ends
    // the run as a stop, whatever the call said. Otherwise the folder gets
    // every chunk made before the failure, as the files of an export
    // without the packer; where it cannot, the error says where they are.
    if (!view.StopRequested()) {
      if (packer && !packer->KeepChunkFiles()) RethrowWithText(packer->KeptText());
      throw;
    }
    if (packer) packer->Abandon();
    try {
      dm.Disconnect(kind);
    } catch (...) {
    }
    StopGeneration(view, QString());
    return;
  }
  if (view.StopRequested()) {
    if (packer) packer->Abandon();
    StopGeneration(view, QString());
    return;
  }

  // Until the packet file holds all of it, the export is kept: a failure
  // here says where.
  QString archiveName = PacketLayout::ArchiveName(FContext.PacketFolder);
  const bool packed =
      packer ? packer->Finish(errorText)
             : archiver.PackPacketFolder(FContext.PacketFolder, archiveName, errorText);
  if (view.StopRequested()) {
    StopGeneration(view, tmpExisted ? QString() : tmpArchive);
    return;
  }
  if (!packed) {
    const QString kept = packer ? packer->KeptText()
                                : QStringLiteral("Изнесените файлове са запазени в папка %1.")
                                      .arg(FContext.PacketFolder);
    view.ShowError(QStringLiteral("Пакетът не е архивиран: %1\n%2").arg(errorText, kept));
    return;
  }
  QString packetFile;
  const bool renamed = archiver.RenamePacketArchive(archiveName, DataBasePacketExtension(kind),
                                                    packetFile, errorText);
  // Empty by now: every file it held is in the archive, checked.
  DeleteFolder(FContext.PacketFolder);
  if (!renamed) {
    view.ShowError(errorText);
    return;
  }
  FLastPacketFile = packetFile;
  const qint64 milliseconds = timer.elapsed();
  view.ShowNotice(kSuccessText);
  // After the notice is answered: where the packet is and what it holds.
  const QFileInfo packet(packetFile);
  for (const QString& line :
       SummaryLines(packet.absoluteFilePath(), packet.size(), tableRows, milliseconds))
    view.AppendLog(line);
}

void TGenerationRun::ExportTables(DataBaseType kind, IAppView& view,
                                  QList<QPair<QString, int>>& tableRows, TPacketPacker* packer) {
  TDM& dm = FContext.DM;
  const std::unique_ptr<TExportSource> source = MakeExportSource(kind, dm);
  // The repair is committed before the snapshot, so the export reads it.
  source->RepairSource();

  try {
    // Every table as of one moment: a packet of tables read at different
    // times could pair rows with parents or stock that changed meanwhile.
    TReadSnapshot snapshot(source->Connection());
    QString version;
    try {
      version = source->DataVersion();
    } catch (ENompackError& e) {
      e.AddContext(QStringLiteral("reading the schema version"));
      throw;
    }
    const QStringList list = WriteTablesDescr(version);
    if (packer) packer->PackFile(PacketLayout::kDescriptorFileName);
    const int tableCount = list.size() - 1;
    TExporter exporter(dm, view);
    exporter.SetChunkSink(packer);
    for (int n = 1; n <= tableCount; ++n) {
      const QString& table = list.at(n);
      view.ShowMainProgress(table, n, tableCount);
      // The progress call let the window's events run: a stop asked there
      // is seen before the table is read.
      ThrowIfStopRequested(view);
      int rows = 0;
      exporter.ExportTable(*source, table, FContext.PacketFolder, kChunkSize, rows);
      tableRows.append({table, rows});
    }

    // Every chunk is packed (or, after packing failed, written) before the
    // manifest vouches for it.
    if (packer) packer->Flush();
    // The installer compares what it unpacks with this record of every chunk.
    TPacketManifest manifest;
    manifest.Chunks = exporter.WrittenChunks();
    manifest.SaveToFile(FContext.PacketFolder + TPacketManifest::kFileName);
    snapshot.End();
  } catch (...) {
    // The export's error is the one the user sees; a failing close after it
    // must not replace it.
    try {
      dm.Disconnect(kind);
    } catch (...) {
    }
    throw;
  }
  dm.Disconnect(kind);
}

bool TGenerationRun::RemoveUnfinishedPacket(const QString& tmpArchive) {
  const QString folder = FContext.PacketFolder;
  // Only what a generation writes goes, so that a folder that held files of
  // its own keeps them (and stays).
  QStringList files{PacketLayout::kDescriptorFileName, TPacketManifest::kFileName};
  for (const QString& table : PacketLayout::PacketTables())
    files += GetFileList(folder, PacketLayout::ChunkFileMask(table));
  bool removed = true;
  for (const QString& file : files) {
    const QString path = folder + file;
    if (QFileInfo::exists(path) && !QFile::remove(path)) removed = false;
  }
  if (QFileInfo::exists(folder) && !QDir().rmdir(folder)) removed = false;
  if (!tmpArchive.isEmpty() && QFileInfo::exists(tmpArchive) && !QFile::remove(tmpArchive))
    removed = false;
  return removed;
}

void TGenerationRun::StopGeneration(IAppView& view, const QString& tmpArchive) {
  const QString done =
      RemoveUnfinishedPacket(tmpArchive)
          ? QStringLiteral("Генерирането е спряно; незавършеният пакет е изтрит.")
          : QStringLiteral("Генерирането е спряно; незавършеният пакет не е изтрит изцяло: %1")
                .arg(QDir::toNativeSeparators(FContext.PacketFolder));
  view.AppendLog(done);
  view.ShowError(StopRequestedText() + QStringLiteral("\r\n") + done);
}
