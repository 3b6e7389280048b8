#pragma once

#include <condition_variable>
#include <deque>
#include <exception>
#include <mutex>
#include <thread>

#include "Connection.h"

// Sends batches from a thread of its own, in the order they were started,
// so that the loader reads and binds the next rows while the server stores
// these. A second batch may wait behind the one in flight: it leaves as soon
// as the server has answered, without waiting for the loader to take that
// answer.
//
// A batch the server refuses holds back the ones after it: they stay unsent
// until the caller, having taken the failure with Wait, calls Resume. Between
// the two the connection is the caller's alone (to send the refused rows one
// by one); otherwise it is the thread's while anything is outstanding. The
// connection is never used by two threads at once. Without a thread to be
// had, batches are sent by Start and Resume themselves.
class TBatchSender {
 public:
  // Batches started and not yet waited for, at most.
  static constexpr int kMaxOutstanding = 2;

  TBatchSender();
  // Sends nothing more, waits for the batch in flight (its outcome is
  // dropped: the loader is failing anyway) and ends the thread.
  ~TBatchSender();
  TBatchSender(const TBatchSender&) = delete;
  TBatchSender& operator=(const TBatchSender&) = delete;

  // Queues `rows` for `batch`; both stay untouched by the caller until Wait
  // has returned for them. Fewer than kMaxOutstanding batches may be
  // outstanding.
  void Start(IBatchInsert& batch, const QVector<TParams>& rows);
  // Waits for the oldest outstanding batch: null when it was stored, else
  // what it threw. After a failure nothing is sent until Resume.
  std::exception_ptr Wait();
  // Sends the batches held back by a failure.
  void Resume();
  // Whether a failure holds the batches after it back.
  bool Held();

 private:
  struct TEntry {
    IBatchInsert* Batch = nullptr;
    const QVector<TParams>* Rows = nullptr;
    bool Done = false;
    std::exception_ptr Failure;
  };

  void Run();
  // The first entry not yet sent, when sending may go on; null otherwise.
  TEntry* NextToSend();
  static void Send(TEntry& entry);
  // Marks the entry sent; a failure holds the ones after it back. Under the
  // lock.
  void Settle(TEntry& entry);
  // Sends what may be sent, on the caller's thread (no thread to be had).
  void SendInline();

  std::mutex FMutex;
  std::condition_variable FChanged;
  // Oldest first; an entry is only ever removed from the front, so the
  // thread's reference to the one it sends stays valid.
  std::deque<TEntry> FQueue;
  bool FSending = false;
  bool FHeld = false;
  bool FClosed = false;
  bool FInline = false;
  std::thread FThread;
};
