#pragma once

#include <QByteArray>
#include <QString>
#include <QtTest>

// Tests that need a database server call this when it cannot be reached: in
// CI that is a failure, on a developer's machine a loud skip.
#define NOMPACK_REQUIRE_SERVER(reachable, what)                                       \
  do {                                                                                \
    if (!(reachable)) {                                                               \
      if (qgetenv("CI") == "true")                                                    \
        QFAIL(qPrintable(QStringLiteral("server not reachable: ") + (what)));         \
      QSKIP(qPrintable(QStringLiteral("SKIPPING: server not reachable: ") + (what))); \
    }                                                                                 \
  } while (0)

// An exception that leaves a test function would end the whole program: the
// statements run guarded, and an ENompackError (the user of this macro
// includes NompackError.h) fails the test with its full text.
#define GUARDED(...)                                                                \
  try {                                                                             \
    __VA_ARGS__                                                                     \
  } catch (const ENompackError& e) {                                                \
    QFAIL(qPrintable(QStringLiteral("unexpected ENompackError: ") + e.FullText())); \
  }

inline QString SourceDir() {
  return QString::fromLocal8Bit(qgetenv("NOMPACK_SOURCE_DIR"));
}
