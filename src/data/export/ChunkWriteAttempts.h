#pragma once

#include <QString>
#include <exception>

#include "NompackError.h"

// Chunk writes made per chunk before the failure is given up.
inline constexpr int kChunkWriteAttempts = 11;

// Runs `write` until it returns, at most kChunkWriteAttempts times: a chunk
// file that cannot be written now (a virus scanner holding it, a network
// folder hiccup) is tried again at once, silently. The last failure travels
// on as it was thrown, with whatever context the writer gave it; another
// std::exception travels on as an ENompackError of its text.
template <typename Write>
auto WriteWithAttempts(Write&& write) -> decltype(write()) {
  for (int attempt = 1;; ++attempt) {
    try {
      return write();
    } catch (const ENompackError&) {
      if (attempt >= kChunkWriteAttempts) throw;
    } catch (const std::exception& e) {
      if (attempt >= kChunkWriteAttempts) throw ENompackError(QString::fromLocal8Bit(e.what()));
    }
  }
}
