#pragma once

#include <QString>

#include "InstallSummary.h"
#include "RowLoader.h"

class IAppView;
class TDM;
class TLoadTarget;
struct TPacketContents;

// The loading stage of an installation: walks the descriptor's tables in
// order and hands each table's chunk files to the row loader of the
// target's kind.
class TInstallDriver {
 public:
  TInstallDriver(TDM& dm, IAppView& view) : FDM(dm), FView(view), FLoader(dm, view) {}

  // True when every listed table was walked; False with the error text of
  // the failure that stopped the walk. A packet check made before the
  // cleanup hands its findings in `checked`: the chunk files it read and
  // their row counts are used as they are.
  bool InstallMySQLData(const QString& packetFolder, const QString& descriptorPath,
                        QString& errorText, const TPacketContents* checked = nullptr);
  bool InstallFBData(const QString& packetFolder, const QString& descriptorPath, QString& errorText,
                     const TPacketContents* checked = nullptr);

  // An installation of a checked packet as one change: what commits by
  // itself first, then the cleanup and every table in one transaction,
  // committed once at the end, then the identity resets. False with the
  // error text when it fails; a failure inside the transaction (a lock, a
  // lost connection, a chunk that fails, a stop) rolls it back and the
  // text says so on its last line. Once committed, every table is counted
  // in the target for Summary().
  bool InstallPacket(TLoadTarget& target, const QString& packetFolder,
                     const QString& descriptorPath, const TPacketContents& contents,
                     QString& errorText);

  // The line that follows the failure's text when the transaction was
  // rolled back.
  static QString UnchangedText();
  // The last InstallPacket ended because the user asked it to stop, with
  // nothing of the transaction kept.
  bool Stopped() const { return FStopped; }

  // The same on the target a run picked for its kind.
  bool InstallData(TLoadTarget& target, const QString& packetFolder, const QString& descriptorPath,
                   QString& errorText, const TPacketContents* checked = nullptr);

  void LoadMySQLTable(const QString& table, const QString& packetFolder);
  // Commits the FireBird transaction once the table is loaded.
  void LoadFBTable(const QString& table, const QString& packetFolder);

  TRowLoader& Loader() { return FLoader; }
  int RefusedRows() const { return FLoader.RefusedRows(); }
  // What the last committed InstallPacket did, checked against the target;
  // empty (verdict None) after any other run.
  const TInstallSummary& Summary() const { return FSummary; }

 private:
  TDM& FDM;
  IAppView& FView;
  TRowLoader FLoader;
  const TPacketContents* FChecked = nullptr;
  bool FStopped = false;
  TInstallSummary FSummary;

  void LoadTable(TLoadTarget& target, const QString& table, const QString& packetFolder);
};
