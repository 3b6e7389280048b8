#pragma once

// What the installation run tests share: a view, the data module and a run
// over settings the test changes, with no archiver program beside it.

#include <QTemporaryDir>

#include "DataModule.h"
#include "InstallationRun.h"
#include "RecorderView.h"
#include "RunContext.h"

struct TInstallRunRig {
  RecorderView View;
  TDM DM{View};
  TRunSettings Settings;
  QTemporaryDir ProgramDir;  // no archiver program in it
  TRunContext Context{DM, View, [this] { return Settings; }, QString(), ProgramDir.path() + "/"};
  TInstallationRun Run{Context};

  TInstallRunRig(int kind, const QString& packet, const QString& mysqlDatabase) {
    Settings.DataBaseType = DataBaseTypeFromIndex(kind);
    Settings.InstallFile = packet;
    Settings.DBName = mysqlDatabase;
    Settings.Password = QString();
  }
  // A Firebird attachment left open commits nothing it did not commit.
  ~TInstallRunRig() {
    try {
      if (DM.FBIsConnected()) DM.FBDisconnect();
    } catch (const std::exception&) {
    }
  }
};
