#pragma once

#include <QString>
#include <functional>

#include "DataBaseType.h"

class IAppView;
class TDM;
struct TConnectParams;

// Every setting of the two runs, as the main window's fields hold them. The
// runs ask for them at the moment they need them.
struct TRunSettings {
  ::DataBaseType DataBaseType = ::DataBaseType::MySQL;
  QString ExportFolder;
  QString FBDBHost = QStringLiteral("127.0.0.1");
  QString FBDBFullPath =
      QStringLiteral("C:\\Program Files\\Quenby\\Veltrona2\\Data\\Veltrona2.gdb");
  // The server of a MySQL or MSSQL database: the two kinds share the fields.
  QString DBHost = QStringLiteral("127.0.0.1");
  QString DBName = QStringLiteral("quillmarsh1");
  QString UserName = QStringLiteral("root");
  QString Password;
  QString InstallFile;
};

// What the generation and installation runs share with their front end: the
// data module, the user-interface interface, the settings and the current
// packet folder (FPacketFolder: the packet folder while generating, the
// unpack folder while installing; it keeps its value after a run).
struct TRunContext {
  TDM& DM;
  IAppView& View;
  std::function<TRunSettings()> Settings;
  QString PacketFolder;
  // Folder of the running program, ending with a separator: where an
  // external archiver is looked for.
  QString ProgramFolder;
};

// The FireBird connect string of the settings: the host ("127.0.0.1" when
// empty), ":" and the database path, neither trimmed.
QString FBConnectString(const TRunSettings& settings);
// What the data module connects with for the settings.
TConnectParams ConnectParams(const TRunSettings& settings);

// Holds a run's busy flag for its lifetime, exceptions included. The
// progress calls let queued events run, so a second press of the action
// could otherwise start a run inside the one still going.
class TReentrancyGuard {
 public:
  explicit TReentrancyGuard(bool& flag) : FFlag(flag) { FFlag = true; }
  ~TReentrancyGuard() { FFlag = false; }
  TReentrancyGuard(const TReentrancyGuard&) = delete;
  TReentrancyGuard& operator=(const TReentrancyGuard&) = delete;

 private:
  bool& FFlag;
};
