#include "RunContext.h"

QString FBConnectString(const TRunSettings& settings) {
  const QString host =
      settings.FBDBHost.isEmpty() ? QStringLiteral("127.0.0.1") : settings.FBDBHost;
  return host + QLatin1Char(':') + settings.FBDBFullPath;
}
