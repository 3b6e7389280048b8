#include "ZipWriter.h"

#include <archive.h>
#include <archive_entry.h>

#include <QFile>
#include <QFileInfo>

namespace {

constexpr qint64 kBlockSize = 64 * 1024;

struct EntryFree {
  void operator()(struct archive_entry* e) const { archive_entry_free(e); }
};

}  // namespace

void TZipWriter::Free::operator()(struct archive* a) const {
  archive_write_free(a);
}

TZipWriter::TZipWriter() = default;
TZipWriter::~TZipWriter() = default;

bool TZipWriter::Fail(QString& errorText) {
  const char* text = FArchive ? archive_error_string(FArchive.get()) : nullptr;
  errorText = text ? QString::fromLocal8Bit(text) : QStringLiteral("libarchive error");
  return false;
}

bool TZipWriter::Open(const QString& archiveName, QString& errorText) {
  FArchive.reset(archive_write_new());
  if (archive_write_set_format_zip(FArchive.get()) != ARCHIVE_OK ||
      archive_write_set_options(
          FArchive.get(), "zip:compression=deflate,zip:compression-level=9,zip:hdrcharset=UTF-8") !=
          ARCHIVE_OK ||
      archive_write_open_filename(FArchive.get(), QFile::encodeName(archiveName).constData()) !=
          ARCHIVE_OK)
    return Fail(errorText);
  return true;
}

bool TZipWriter::WriteHeader(const QString& bareName, qint64 size, qint64 mtime,
                             QString& errorText) {
  const std::unique_ptr<struct archive_entry, EntryFree> entry(archive_entry_new());
  archive_entry_set_pathname_utf8(entry.get(), bareName.toUtf8().constData());
  archive_entry_set_filetype(entry.get(), AE_IFREG);
  archive_entry_set_perm(entry.get(), 0644);
  archive_entry_set_size(entry.get(), size);
  archive_entry_set_mtime(entry.get(), mtime, 0);
  if (archive_write_header(FArchive.get(), entry.get()) != ARCHIVE_OK) return Fail(errorText);
  return true;
}

bool TZipWriter::AddEntry(const QString& bareName, const QByteArray& data, qint64 mtime,
                          QString& errorText) {
  if (!WriteHeader(bareName, data.size(), mtime, errorText)) return false;
  // libarchive takes any amount at once; it deflates in its own blocks.
  if (!data.isEmpty() && archive_write_data(FArchive.get(), data.constData(),
                                            static_cast<size_t>(data.size())) != data.size())
    return Fail(errorText);
  return true;
}

bool TZipWriter::AddFile(const QString& bareName, const QString& path, QString& errorText) {
  QFile file(path);
  if (!file.open(QIODevice::ReadOnly)) {
    errorText = QStringLiteral("%1: %2").arg(path, file.errorString());
    return false;
  }
  const qint64 size = file.size();
  if (!WriteHeader(bareName, size, QFileInfo(file).lastModified().toSecsSinceEpoch(), errorText))
    return false;
  qint64 written = 0;
  while (!file.atEnd()) {
    const QByteArray block = file.read(kBlockSize);
    if (block.isEmpty() && file.error() != QFileDevice::NoError) {
      errorText = QStringLiteral("%1: %2").arg(path, file.errorString());
      return false;
    }
    if (archive_write_data(FArchive.get(), block.constData(), block.size()) != block.size())
      return Fail(errorText);
    written += block.size();
  }
  if (written != size) {
    errorText = QStringLiteral("%1: прочетени %2 от %3 байта").arg(path).arg(written).arg(size);
    return false;
  }
  return true;
}

bool TZipWriter::Close(QString& errorText) {
  if (archive_write_close(FArchive.get()) != ARCHIVE_OK) return Fail(errorText);
  FArchive.reset();
  return true;
}
