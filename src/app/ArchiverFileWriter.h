#pragma once

#include <QByteArray>
#include <QString>
#include <condition_variable>
#include <deque>
#include <functional>
#include <mutex>
#include <thread>

// Writes an extraction's files on a thread of its own. Creating a file costs
// the file system far more than inflating it, so the extraction inflates the
// next entries while the files before them are written (and checked, by the
// installation).
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

  // Runs on the writer's thread once a file is written, with its bytes.
  using TWritten = std::function<void(const QByteArray& bytes)>;

  // Queues the file (waits while the queue is full); false with the error
  // text once a file could not be written. `written`, when given, runs once
  // the file is written, in queue order; a file that is not written runs
  // nothing.
  bool Write(const QString& path, QByteArray bytes, QString& errorText, TWritten written = {});
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
  struct TFile {
    QString Path;
    QByteArray Bytes;
    TWritten Written;
  };
  std::deque<TFile> FQueue;
  qint64 FQueuedBytes = 0;
  bool FWriting = false;  // the thread holds a file taken from the queue
  bool FClosed = false;
  QString FError;
  std::thread FThread;

  void Run();
  // Runs `written` after its file; the error text of what it threw.
  static QString AfterWrite(const QString& path, const QByteArray& bytes, const TWritten& written);
};
