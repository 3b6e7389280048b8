#include "BatchSender.h"

#include <system_error>

#include "NompackError.h"

TBatchSender::TBatchSender() {
  try {
    FThread = std::thread([this] { Run(); });
  } catch (const std::system_error&) {
    FInline = true;
  }
}

TBatchSender::~TBatchSender() {
  {
    std::unique_lock<std::mutex> lock(FMutex);
    FClosed = true;
    FChanged.wait(lock, [this] { return !FSending; });
  }
  FChanged.notify_all();
  if (FThread.joinable()) FThread.join();
}

void TBatchSender::Start(IBatchInsert& batch, const QVector<TParams>& rows) {
  {
    const std::lock_guard<std::mutex> lock(FMutex);
    if (static_cast<int>(FQueue.size()) >= kMaxOutstanding)
      throw ENompackError(QStringLiteral("A batch started while %1 wait").arg(FQueue.size()),
                          ENompackError::Kind::Assertion);
    TEntry entry;
    entry.Batch = &batch;
    entry.Rows = &rows;
    FQueue.push_back(entry);
  }
  if (FInline) {
    SendInline();
    return;
  }
  FChanged.notify_all();
}

std::exception_ptr TBatchSender::Wait() {
  std::unique_lock<std::mutex> lock(FMutex);
  if (FQueue.empty())
    throw ENompackError(QStringLiteral("No batch to wait for"), ENompackError::Kind::Assertion);
  // Held back, the oldest would never be sent: the caller skipped Resume.
  if (!FQueue.front().Done && FHeld)
    throw ENompackError(QStringLiteral("A batch waited for while the sender is held"),
                        ENompackError::Kind::Assertion);
  FChanged.wait(lock, [this] { return FQueue.front().Done; });
  const std::exception_ptr failure = FQueue.front().Failure;
  FQueue.pop_front();
  return failure;
}

void TBatchSender::Resume() {
  {
    const std::lock_guard<std::mutex> lock(FMutex);
    FHeld = false;
  }
  if (FInline) {
    SendInline();
    return;
  }
  FChanged.notify_all();
}

bool TBatchSender::Held() {
  const std::lock_guard<std::mutex> lock(FMutex);
  return FHeld;
}

TBatchSender::TEntry* TBatchSender::NextToSend() {
  if (FHeld || FClosed) return nullptr;
  for (TEntry& entry : FQueue)
    if (!entry.Done) return &entry;
  return nullptr;
}

void TBatchSender::Send(TEntry& entry) {
  try {
    entry.Batch->ExecuteBatch(*entry.Rows);
  } catch (...) {
    entry.Failure = std::current_exception();
  }
}

void TBatchSender::Settle(TEntry& entry) {
  entry.Done = true;
  FHeld = entry.Failure != nullptr;
}

void TBatchSender::SendInline() {
  for (;;) {
    TEntry* entry = nullptr;
    {
      const std::lock_guard<std::mutex> lock(FMutex);
      entry = NextToSend();
      if (!entry) return;
    }
    Send(*entry);
    const std::lock_guard<std::mutex> lock(FMutex);
    Settle(*entry);
  }
}

void TBatchSender::Run() {
  for (;;) {
    TEntry* entry = nullptr;
    {
      std::unique_lock<std::mutex> lock(FMutex);
      FChanged.wait(lock, [&] {
        entry = NextToSend();
        return FClosed || entry;
      });
      if (!entry) return;
      FSending = true;
    }
    // Outside the lock: the loader queues the next batch meanwhile.
    Send(*entry);
    {
      const std::lock_guard<std::mutex> lock(FMutex);
      Settle(*entry);
      FSending = false;
    }
    FChanged.notify_all();
  }
}
