#include "GenerationRun.h"

#include <QDir>

#include "AppMiscFiles.h"
#include "AppMiscQueries.h"
#include "AppView.h"
#include "Archiver.h"
#include "DataModule.h"
#include "DataModuleExport.h"
#include "NompackError.h"
#include "PacketLayout.h"
#include "PacketManifestCheck.h"
#include "QBMisc.h"

namespace {

constexpr int kChunkSize = 50;

const QString kSuccessText = QStringLiteral("Процесът приключи успешно!");
const QString kFBConnectFailedText = QStringLiteral("Грешка при свързването!");
const QString kParcelRepairSql = QStringLiteral(
    "UPDATE PARCEL SET EXPIRY_DATE = '30.12.1899' WHERE EXPIRY_DATE < '30.12.1899';");

}  // namespace

TGenerationRun::TGenerationRun(TRunContext& context) : FContext(context) {}

void TGenerationRun::GenerateExport() {
  const int kind = FContext.Settings().DataBaseType;
  if (kind == 0)
    GenerateMySQLPacket();
  else if (kind == 1)
    GenerateFBPacket();
  else
    GenerateMSSQLPacket();
}

void TGenerationRun::GenerateMySQLPacket() {
  GeneratePacket(0);
}
void TGenerationRun::GenerateFBPacket() {
  GeneratePacket(1);
}
void TGenerationRun::GenerateMSSQLPacket() {
  GeneratePacket(2);
}

void TGenerationRun::GeneratePacket(int dataBaseType) {
  // A second run would share the data module's connections and page queries.
  if (FRunning) return;
  TReentrancyGuard guard(FRunning);
  FLastPacketFile.clear();
  IAppView& view = FContext.View;
  try {
    CreatePacketFolder(PacketLayout::KindTag(dataBaseType));
    switch (dataBaseType) {
      case 0:
        ExportMySQLPacket();
        break;
      case 1:
        ExportFBPacket();
        break;
      default:
        ExportMSSQLPacket();
        break;
    }
  } catch (...) {
    view.ResetExportProgress();
    throw;
  }
  view.ResetExportProgress();
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

bool TGenerationRun::IsConnected(int dataBaseType) const {
  switch (dataBaseType) {
    case 0:
      return FContext.DM.MySQLIsConnected();
    case 1:
      return FContext.DM.FBIsConnected();
    default:
      return FContext.DM.MSSQLIsConnected();
  }
}

void TGenerationRun::Disconnect(int dataBaseType) {
  switch (dataBaseType) {
    case 0:
      FContext.DM.MySQLDisconnect();
      break;
    case 1:
      FContext.DM.FBDisconnect();
      break;
    default:
      FContext.DM.MSSQLDisconnect();
      break;
  }
}

void TGenerationRun::ExportPacket(int dataBaseType) {
  TDM& dm = FContext.DM;
  IAppView& view = FContext.View;
  const TRunSettings settings = FContext.Settings();

  if (IsConnected(dataBaseType)) Disconnect(dataBaseType);

  bool connected = false;
  QString errorText;
  switch (dataBaseType) {
    case 0:
      connected = dm.MySQLConnect(settings.MySQLDBHost, settings.MySQLDBName,
                                  settings.MySQLUserName, settings.MySQLPassword, errorText);
      break;
    case 1:
      connected = dm.FBConnect(FBConnectString(settings));
      errorText = kFBConnectFailedText;
      break;
    default:
      connected = dm.MSSQLConnect(settings.MySQLDBHost, settings.MySQLDBName,
                                  settings.MySQLUserName, settings.MySQLPassword, errorText);
      break;
  }
  if (!connected) {
    view.ShowError(errorText);
    return;
  }

  if (dataBaseType == 1) {
    // Expiry dates before the day-count origin do not survive the data
    // packet; the source itself is mended, permanently, before the export.
    TQuery& query = dm.IBQuery1();
    query.Close();
    query.SetSQLText(kParcelRepairSql);
    query.ExecSQL();
    dm.FBCommitRetaining();
  }

  try {
    QString version;
    try {
      switch (dataBaseType) {
        case 0:
          version = GetMySQLDataVersion();
          break;
        case 1:
          version = GetFBDataVersion();
          break;
        default:
          version = GetMSSQLDataVersion();
          break;
      }
    } catch (ENompackError& e) {
      e.AddContext(QStringLiteral("reading the schema version"));
      throw;
    }
    const QStringList list = WriteTablesDescr(version);
    const int tableCount = list.size() - 1;
    TExporter exporter(dm, view);
    for (int n = 1; n <= tableCount; ++n) {
      const QString& table = list.at(n);
      view.ShowMainProgress(table, n, tableCount);
      int rows = 0;
      switch (dataBaseType) {
        case 0:
          exporter.ExportMySQLTable(table, FContext.PacketFolder, kChunkSize, rows);
          break;
        case 1:
          exporter.ExportFBTable(table, FContext.PacketFolder, kChunkSize, rows);
          break;
        default:
          exporter.ExportMSSQLTable(table, FContext.PacketFolder, kChunkSize, rows);
          break;
      }
    }

    // The installer compares what it unpacks with this record of every chunk.
    WritePacketManifest(FContext.PacketFolder, list.mid(1));
  } catch (...) {
    // The export's error is the one the user sees; a failing close after it
    // must not replace it.
    try {
      Disconnect(dataBaseType);
    } catch (...) {
    }
    throw;
  }
  Disconnect(dataBaseType);

  // The packet folder is the only copy of the export until the packet file
  // holds all of it: a failure here keeps it and says so.
  TArchiver archiver(FContext.ProgramFolder);
  QString archiveName;
  if (!archiver.PackPacketFolder(FContext.PacketFolder, archiveName, errorText)) {
    view.ShowError(
        QStringLiteral("Пакетът не е архивиран: %1\nИзнесените файлове са запазени в папка %2.")
            .arg(errorText, FContext.PacketFolder));
    return;
  }
  QString packetFile;
  const bool renamed = archiver.RenamePacketArchive(
      archiveName, PacketLayout::PacketExtension(dataBaseType), packetFile, errorText);
  // Empty by now: every file it held is in the archive, checked.
  DeleteFolder(FContext.PacketFolder);
  if (!renamed) {
    view.ShowError(errorText);
    return;
  }
  FLastPacketFile = packetFile;
  view.ShowNotice(kSuccessText);
}
