#pragma once

#include <QByteArray>
#include <QString>
#include <condition_variable>
#include <deque>
#include <mutex>
#include <thread>
#include <utility>

// Writes an extraction's files on a thread of its own. Creating a file costs
// the file system far more than inflating it, so the extraction inflates
// (and the installation checks) the next entries while the files before
// them are written.
//
// The files are written in the order they are queued, each replaced whole
// (a read-only one too). Queued bytes are bounded, so memory stays that of a
// few files. The first failure ends the writing; its text ("file: reason")
// is what Write and Finish report. The thread is joined when the writer
// goes, whatever happened.
class TArchiverFileWriter {
 public:
  static constexpr qint64 kDefaultQueuedBytes = 16 * 1024 * 1024;

  explicit TArchiverFileWriter(qint64 maxQueuedBytes = kDefaultQueuedBytes);
  ~TArchiverFileWriter();
  TArchiverFileWriter(const TArchiverFileWriter&) = delete;
  TArchiverFileWriter& operator=(const TArchiverFileWriter&) = delete;

  // Queues the file (waits while the queue is full); false with the error
  // text once a file could not be written.
  bool Write(const QString& path, QByteArray bytes, QString& errorText);
  // Waits until every queued file is written; false with the error text of
  // the first that could not be.
  bool Finish(QString& errorText);

  // Writes one file in place of whatever has its name; the error text
  // when it cannot, empty when written.
  static QString WriteFile(const QString& path, const QByteArray& bytes);

 private:
  const qint64 FMaxQueuedBytes;
  // Files are written by the caller when no thread could be started.
  bool FInline = false;

  std::mutex FMutex;
  std::condition_variable FChanged;
  std::deque<std::pair<QString, QByteArray>> FQueue;
  qint64 FQueuedBytes = 0;
  bool FWriting = false;  // the thread holds a file taken from the queue
  bool FClosed = false;
  QString FError;
  std::thread FThread;

  void Run();
};
