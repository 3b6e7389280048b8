#include "LockWait.h"

#include <QByteArray>
#include <QtGlobal>

int LockWaitSeconds() {
  bool ok = false;
  const int seconds = qEnvironmentVariableIntValue("NOMPACK_LOCK_WAIT_SECONDS", &ok);
  return ok && seconds >= 1 && seconds <= 3600 ? seconds : kLockWaitSeconds;
}
