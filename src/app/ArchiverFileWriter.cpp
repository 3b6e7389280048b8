#include "ArchiverFileWriter.h"

#include <QFile>
#include <system_error>

#include "NompackError.h"
#include "QBMisc.h"

TArchiverFileWriter::TArchiverFileWriter(qint64 maxQueuedBytes)
    : FMaxQueuedBytes(qMax<qint64>(maxQueuedBytes, 1)) {
  try {
    FThread = std::thread([this] { Run(); });
  } catch (const std::system_error&) {
    FInline = true;
  }
}

TArchiverFileWriter::~TArchiverFileWriter() {
  {
    const std::lock_guard<std::mutex> lock(FMutex);
    // What is queued is still written: an extraction that fails leaves the
    // files it extracted before the failure.
    FClosed = true;
  }
  FChanged.notify_all();
  if (FThread.joinable()) FThread.join();
}

QString TArchiverFileWriter::WriteFile(const QString& path, const QByteArray& bytes) {
  QFile out(path);
  if (!out.open(QIODevice::WriteOnly | QIODevice::Truncate)) {
    // A read-only file of that name is replaced as well.
    ForceDeleteFile(out.fileName());
    if (!out.open(QIODevice::WriteOnly | QIODevice::Truncate))
      return QStringLiteral("%1: %2").arg(out.fileName(), out.errorString());
  }
  if (out.write(bytes) != bytes.size() || !out.flush())
    return QStringLiteral("%1: %2").arg(out.fileName(), out.errorString());
  return QString();
}

QString TArchiverFileWriter::AfterWrite(const QString& path, const QByteArray& bytes,
                                        const TWritten& written) {
  if (!written) return QString();
  // Nothing may leave the writer's thread: what fails here fails the
  // extraction like a file that could not be written.
  try {
    written(bytes);
  } catch (const ENompackError& e) {
    return QStringLiteral("%1: %2").arg(path, e.Message());
  } catch (const std::exception& e) {
    return QStringLiteral("%1: %2").arg(path, QString::fromLocal8Bit(e.what()));
  }
  return QString();
}

void TArchiverFileWriter::Run() {
  for (;;) {
    TFile file;
    {
      std::unique_lock<std::mutex> lock(FMutex);
      FChanged.wait(lock, [this] { return FClosed || !FQueue.empty(); });
      if (FQueue.empty()) return;
      file = std::move(FQueue.front());
      FQueue.pop_front();
      FQueuedBytes -= file.Bytes.size();
      FWriting = true;
    }
    FChanged.notify_all();
    QString error = WriteFile(file.Path, file.Bytes);
    if (error.isEmpty()) error = AfterWrite(file.Path, file.Bytes, file.Written);
    {
      const std::lock_guard<std::mutex> lock(FMutex);
      FWriting = false;
      if (!error.isEmpty()) {
        FError = error;
        FQueue.clear();
        FQueuedBytes = 0;
      }
    }
    FChanged.notify_all();
    if (!error.isEmpty()) return;
  }
}

bool TArchiverFileWriter::Write(const QString& path, QByteArray bytes, QString& errorText,
                                TWritten written) {
  if (FInline) {
    errorText = WriteFile(path, bytes);
    if (errorText.isEmpty()) errorText = AfterWrite(path, bytes, written);
    return errorText.isEmpty();
  }
  std::unique_lock<std::mutex> lock(FMutex);
  // One file always fits, however large: the bound only keeps the queue
  // from growing past it.
  FChanged.wait(lock, [this] {
    return !FError.isEmpty() || FQueue.empty() || FQueuedBytes < FMaxQueuedBytes;
  });
  if (!FError.isEmpty()) {
    errorText = FError;
    return false;
  }
  FQueuedBytes += bytes.size();
  FQueue.push_back({path, std::move(bytes), std::move(written)});
  lock.unlock();
  FChanged.notify_all();
  return true;
}

bool TArchiverFileWriter::Finish(QString& errorText) {
  if (FInline) return true;
  std::unique_lock<std::mutex> lock(FMutex);
  FChanged.wait(lock, [this] { return !FError.isEmpty() || (FQueue.empty() && !FWriting); });
  errorText = FError;
  return FError.isEmpty();
}
