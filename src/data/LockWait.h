#pragma once

// How long an installation waits for a table another session holds before
// it gives up: a busy pharmacy must not leave the technician in front of a
// run that waits without a word (the servers' own limits are up to a day).
constexpr int kLockWaitSeconds = 30;

// The wait in force: kLockWaitSeconds, or the whole number of seconds in
// NOMPACK_LOCK_WAIT_SECONDS (1 to 3600) where that is set, so that the tests
// of a busy target need not wait the full time.
int LockWaitSeconds();
