#pragma once

#include <QString>

#include "RunContext.h"

// The packet installation run: file checks, connection, unpacking (or reuse),
// descriptor check, target cleanup and the install driver.
class TInstallationRun {
 public:
  explicit TInstallationRun(TRunContext& context);

  // acInstallPacketExecute: the file checks, then the run of the chosen kind.
  void InstallPacket();
  void InstallMySQLPacket();
  void InstallFBPacket();
  void InstallMSSQLPacket();
  void UnpackPacket(const QString& packetFile);

  // How the last run ended: true when every step ran (no step returned
  // False and nothing propagated); refused rows are counted separately.
  bool LastRunCompleted() const { return FLastRunCompleted; }
  int LastRefusedRows() const { return FLastRefusedRows; }

 private:
  TRunContext& FContext;
  bool FLastRunCompleted = false;
  int FLastRefusedRows = 0;
};
