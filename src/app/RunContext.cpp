#include "RunContext.h"

#include "DataModule.h"

QString FBConnectString(const TRunSettings& settings) {
  const QString host =
      settings.FBDBHost.isEmpty() ? QStringLiteral("127.0.0.1") : settings.FBDBHost;
  return host + QLatin1Char(':') + settings.FBDBFullPath;
}

TConnectParams ConnectParams(const TRunSettings& settings) {
  return TConnectParams{FBConnectString(settings), settings.DBHost, settings.DBName,
                        settings.UserName, settings.Password};
}
