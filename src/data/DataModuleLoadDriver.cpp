#include "DataModuleLoadDriver.h"

#include "AppMiscFiles.h"
#include "AppView.h"
#include "DataModule.h"
#include "DataModuleLoadCheck.h"
#include "NompackError.h"
#include "PacketLayout.h"

bool TInstallDriver::InstallMySQLData(const QString& packetFolder, const QString& descriptorPath,
                                      QString& errorText, const TPacketContents* checked) {
  return InstallData(TTarget::MySQL, packetFolder, descriptorPath, errorText, checked);
}

bool TInstallDriver::InstallFBData(const QString& packetFolder, const QString& descriptorPath,
                                   QString& errorText, const TPacketContents* checked) {
  return InstallData(TTarget::FireBird, packetFolder, descriptorPath, errorText, checked);
}

bool TInstallDriver::InstallData(TTarget target, const QString& packetFolder,
                                 const QString& descriptorPath, QString& errorText,
                                 const TPacketContents* checked) {
  FView.ShowInstallProgress(QStringLiteral("Зареждане на данни за номенклатури..."), 0, 100);
  errorText.clear();
  FChecked = checked;
  try {
    for (const QString& table : LoadDescriptorTables(descriptorPath))
      LoadTable(target, table, packetFolder);
    FView.ShowInstallProgress(QStringLiteral("..."), 0, 100);
  } catch (const ENompackError& e) {
    FChecked = nullptr;
    errorText = e.Message();
    return false;
  } catch (const std::exception& e) {
    FChecked = nullptr;
    errorText = QString::fromLocal8Bit(e.what());
    return false;
  }
  FChecked = nullptr;
  return true;
}

void TInstallDriver::LoadMySQLTable(const QString& table, const QString& packetFolder) {
  LoadTable(TTarget::MySQL, table, packetFolder);
}

void TInstallDriver::LoadFBTable(const QString& table, const QString& packetFolder) {
  LoadTable(TTarget::FireBird, table, packetFolder);
}

void TInstallDriver::LoadTable(TTarget target, const QString& table, const QString& packetFolder) {
  const TPacketTable* known = FChecked ? FChecked->Find(table) : nullptr;
  QStringList files =
      known ? known->ChunkFiles : GetFileList(packetFolder, PacketLayout::ChunkFileMask(table));
  const int knownTotal = known ? known->TotalRows : -1;
  if (target == TTarget::MySQL) {
    FLoader.LoadMySQLChunks(packetFolder, files, table, knownTotal);
  } else {
    FLoader.LoadFBChunks(packetFolder, files, table, knownTotal);
    FDM.FBCommitRetaining();
  }
}
