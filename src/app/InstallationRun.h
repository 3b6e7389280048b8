#pragma once

#include <QString>
#include <QStringList>
#include <functional>

#include "ChunkFindings.h"
#include "InstallSummary.h"
#include "RunContext.h"

struct TPacketContents;
class TLoadTarget;

// The packet installation run: file checks, connection, unpacking (or reuse),
// descriptor check, a reading of the whole packet, target cleanup and the
// install driver.
class TInstallationRun {
 public:
  explicit TInstallationRun(TRunContext& context);

  // acInstallPacketExecute: the file checks, then the run of the chosen kind.
  void InstallPacket();
  void InstallMySQLPacket();
  void InstallFBPacket();
  void InstallMSSQLPacket();
  // The installation tried without changing the target: the file checks,
  // the connection, unpacking (or reuse), the packet check and the target's
  // check as an installation makes them, then every row checked against the
  // target (TPacketDryRun) and reported per table. Nothing in the target
  // changes. An MSSQL target, which nothing is loaded into, is refused.
  void CheckPacket();
  // Sets the context's packet folder to the unpack folder and makes sure the
  // packet's files are in it: reused when the user agrees and the folder
  // agrees with the packet's listing (ReusedFolderError), otherwise
  // extracted afresh. False (after an error box) when a reused folder
  // differs from the packet, the folder holds files of its own that
  // removing it would destroy, or the packet cannot be extracted completely.
  bool UnpackPacket(const QString& packetFile);

  // FBConnectString of the current settings.
  QString GetFBConnectString() const;

  // Names in `folder` that are neither the descriptor, a chunk file nor
  // one of `packetNames` (what the packet itself holds), and every subfolder
  // or link (with a trailing separator or " ->").
  static QStringList ForeignEntries(const QString& folder, const QStringList& packetNames = {});

  // How the last run ended: true when every step ran (no step returned
  // False and nothing propagated); refused rows are counted separately.
  bool LastRunCompleted() const { return FLastRunCompleted; }
  int LastRefusedRows() const { return FLastRefusedRows; }
  // How the last committed installation's counts compared with the target
  // (None after any other run).
  TInstallSummary::TVerdict LastVerdict() const { return FLastVerdict; }
  // The rows the last completed CheckPacket found the target would refuse.
  int LastWouldRefuse() const { return FLastWouldRefuse; }

 private:
  TRunContext& FContext;
  bool FLastRunCompleted = false;
  int FLastRefusedRows = 0;
  TInstallSummary::TVerdict FLastVerdict = TInstallSummary::TVerdict::None;
  int FLastWouldRefuse = 0;
  bool FRunning = false;  // held by a TReentrancyGuard while a run goes
  // The run's log while a run goes (what it shows is saved beside the
  // packet); the front end's view otherwise.
  IAppView* FView = nullptr;

  // The chunk files' findings taken as the packet was extracted, for the
  // packet check that follows; kept only when there is a target to check.
  bool FExamineChunks = false;
  TChunkFindings FExtracted;

  IAppView& View() const { return FView ? *FView : FContext.View; }
  // The "Изберете файл!" and missing-file checks; false after the box.
  bool CheckInstallFile();
  // Clears what the last run left and runs `body` under the run's log,
  // saved beside the packet file.
  void RunLogged(const QString& title, const std::function<void()>& body);
  void InstallKind(DataBaseType kind);
  void InstallKindLogged(DataBaseType kind);
  void CheckKindLogged(DataBaseType kind);
  // The summary after the last stage line: the table lines, an error box
  // when the target's counts differ, the verdict.
  void WriteSummary(const TInstallSummary& summary);
  // Unpacking, the descriptor check and, when there is a target to load,
  // the packet check and the target's check; the descriptor path when the
  // packet can be installed, empty after an error box.
  QString PreparePacket(TLoadTarget* target, TPacketContents& contents);
};
