#include "AppView.h"

#include "NompackError.h"

void ThrowIfStopRequested(const IAppView& view) {
  if (view.StopRequested())
    throw ENompackError(QStringLiteral("Процесът е прекъснат от потребителя."));
}
