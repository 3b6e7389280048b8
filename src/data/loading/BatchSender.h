#pragma once

#include <condition_variable>
#include <exception>
#include <mutex>
#include <thread>

#include "Connection.h"

// Sends one batch at a time from a thread of its own, so that the loader
// reads and binds the next rows while the server stores these. The caller
// waits for a batch before it starts the next one or uses the connection
// in any other way: the connection is never used by two threads at once.
// Without a thread to be had, Start sends the batch itself.
class TBatchSender {
 public:
  TBatchSender();
  // Waits for the batch in flight (its outcome is dropped: the loader is
  // failing anyway) and ends the thread.
  ~TBatchSender();
  TBatchSender(const TBatchSender&) = delete;
  TBatchSender& operator=(const TBatchSender&) = delete;

  // Sends `rows` through `batch`; both stay untouched by the caller until
  // Wait returns. Nothing may be in flight.
  void Start(IBatchInsert& batch, const QVector<TParams>& rows);
  // Waits for the batch started last: null when it was stored, else what it
  // threw.
  std::exception_ptr Wait();

 private:
  void Run();

  std::mutex FMutex;
  std::condition_variable FChanged;
  IBatchInsert* FBatch = nullptr;
  const QVector<TParams>* FRows = nullptr;
  bool FInFlight = false;
  bool FClosed = false;
  std::exception_ptr FFailure;
  bool FInline = false;
  std::thread FThread;
};
