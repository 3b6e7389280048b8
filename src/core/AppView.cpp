#include "AppView.h"

#include "NompackError.h"

QString StopRequestedText() {
  return QStringLiteral("Процесът е прекъснат от потребителя.");
}

void ThrowIfStopRequested(const IAppView& view) {
  if (view.StopRequested()) throw ENompackError(StopRequestedText());
}
