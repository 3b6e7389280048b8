#include "BatchSender.h"

#include <system_error>

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
    FChanged.wait(lock, [this] { return !FInFlight; });
    FClosed = true;
  }
  FChanged.notify_all();
  if (FThread.joinable()) FThread.join();
}

void TBatchSender::Start(IBatchInsert& batch, const QVector<TParams>& rows) {
  if (FInline) {
    try {
      batch.ExecuteBatch(rows);
      FFailure = nullptr;
    } catch (...) {
      FFailure = std::current_exception();
    }
    return;
  }
  {
    const std::lock_guard<std::mutex> lock(FMutex);
    FBatch = &batch;
    FRows = &rows;
    FFailure = nullptr;
    FInFlight = true;
  }
  FChanged.notify_all();
}

std::exception_ptr TBatchSender::Wait() {
  std::unique_lock<std::mutex> lock(FMutex);
  FChanged.wait(lock, [this] { return !FInFlight; });
  std::exception_ptr failure = FFailure;
  FFailure = nullptr;
  return failure;
}

void TBatchSender::Run() {
  for (;;) {
    IBatchInsert* batch = nullptr;
    const QVector<TParams>* rows = nullptr;
    {
      std::unique_lock<std::mutex> lock(FMutex);
      FChanged.wait(lock, [this] { return FClosed || FInFlight; });
      if (!FInFlight) return;
      batch = FBatch;
      rows = FRows;
    }
    std::exception_ptr failure;
    try {
      batch->ExecuteBatch(*rows);
    } catch (...) {
      failure = std::current_exception();
    }
    {
      const std::lock_guard<std::mutex> lock(FMutex);
      FFailure = failure;
      FInFlight = false;
      FBatch = nullptr;
      FRows = nullptr;
    }
    FChanged.notify_all();
  }
}
