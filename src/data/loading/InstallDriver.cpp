#include "InstallDriver.h"

#include "AppMiscFiles.h"
#include "AppView.h"
#include "DataModule.h"
#include "LoadTarget.h"
#include "NompackError.h"
#include "PacketCheck.h"
#include "PacketLayout.h"

bool TInstallDriver::InstallMySQLData(const QString& packetFolder, const QString& descriptorPath,
                                      QString& errorText, const TPacketContents* checked) {
  return InstallData(*MakeLoadTarget(DataBaseType::MySQL, FDM, FView), packetFolder, descriptorPath,
                     errorText, checked);
}

bool TInstallDriver::InstallFBData(const QString& packetFolder, const QString& descriptorPath,
                                   QString& errorText, const TPacketContents* checked) {
  return InstallData(*MakeLoadTarget(DataBaseType::FireBird, FDM, FView), packetFolder,
                     descriptorPath, errorText, checked);
}

bool TInstallDriver::InstallData(TLoadTarget& target, const QString& packetFolder,
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

QString TInstallDriver::UnchangedText() {
  return QStringLiteral(
      "Инсталацията е отменена: данните в базата са такива, каквито бяха преди нея.");
}

bool TInstallDriver::InstallPacket(TLoadTarget& target, const QString& packetFolder,
                                   const QString& descriptorPath, const TPacketContents& contents,
                                   QString& errorText) {
  errorText.clear();
  FStopped = false;
  FSummary = TInstallSummary();
  // A stop asked during the checks comes before the first change (the
  // statements that commit by themselves included).
  if (FView.StopRequested()) {
    FStopped = true;
    errorText = StopRequestedText() + QStringLiteral("\r\n") + UnchangedText();
    return false;
  }
  if (!target.PrepareInstall(descriptorPath, contents, errorText)) {
    // Only what commits by itself can have run: replica tables dropped,
    // columns added. No row of the pharmacy's tables was touched.
    errorText += QStringLiteral(
        "\r\nДанните в таблиците с номенклатури и документи не са "
        "променени.");
    return false;
  }
  bool committed = false;
  try {
    try {
      target.BeginInstall();
    } catch (const ENompackError& e) {
      throw DuringStep(QStringLiteral("Грешка при започването на промените в базата данни:"), e);
    }
    if (target.CleanTarget(descriptorPath, errorText) &&
        InstallData(target, packetFolder, descriptorPath, errorText, &contents)) {
      // A stop asked for after the last row still finds nothing committed.
      ThrowIfStopRequested(FView);
      try {
        target.CommitInstall();
      } catch (const ENompackError& e) {
        throw DuringStep(QStringLiteral("Грешка при записването на промените в базата данни:"), e);
      }
      committed = true;
    }
  } catch (const ENompackError& e) {
    errorText = e.Message();
  } catch (const std::exception& e) {
    errorText = QString::fromLocal8Bit(e.what());
  }
  if (!committed) {
    // A signal can break off the client's wait on the server; what the user
    // sees is the stop they asked for, not the broken call.
    if (FView.StopRequested()) {
      FStopped = true;
      errorText = StopRequestedText();
    }
    target.RollbackInstall();
    errorText += QStringLiteral("\r\n") + UnchangedText();
    return false;
  }
  try {
    target.ResetNotedIdentities();
  } catch (const ENompackError& e) {
    // The rows are in for good by now: the message must not let the user
    // think otherwise.
    errorText = QStringLiteral(
                    "Данните от пакета са записани, но броячите на идентификаторите не са "
                    "обновени:\r\n") +
                e.Message();
    return false;
  }
  // What is committed is counted on the same connection: the tables were
  // emptied inside the transaction, so each must hold the rows loaded.
  FSummary.Build(contents, FLoader.TableLoads());
  FSummary.CountTarget(target);
  return true;
}

void TInstallDriver::LoadMySQLTable(const QString& table, const QString& packetFolder) {
  LoadTable(*MakeLoadTarget(DataBaseType::MySQL, FDM, FView), table, packetFolder);
}

void TInstallDriver::LoadFBTable(const QString& table, const QString& packetFolder) {
  LoadTable(*MakeLoadTarget(DataBaseType::FireBird, FDM, FView), table, packetFolder);
}

void TInstallDriver::LoadTable(TLoadTarget& target, const QString& table,
                               const QString& packetFolder) {
  ThrowIfStopRequested(FView);
  const TPacketTable* known = FChecked ? FChecked->Find(table) : nullptr;
  QStringList files =
      known ? known->ChunkFiles : GetFileList(packetFolder, PacketLayout::ChunkFileMask(table));
  const int knownTotal = known ? known->TotalRows : -1;
  try {
    FLoader.LoadChunks(target, packetFolder, files, table, knownTotal);
    target.TableLoaded();
  } catch (const ENompackError& e) {
    throw DuringStep(QStringLiteral("Грешка при зареждането на таблица %1:").arg(table), e);
  }
}
