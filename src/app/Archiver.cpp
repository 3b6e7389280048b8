#include "Archiver.h"

#include <unistd.h>

#include <archive.h>
#include <archive_entry.h>

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <algorithm>
#include <memory>
#include <system_error>
#include <thread>
#include <utility>
#include <vector>

#include "ArchiverFileWriter.h"
#include "PacketEntryCheck.h"
#include "PacketLayout.h"
#include "QBMisc.h"
#include "ZipWriter.h"

namespace {

constexpr qint64 kBlockSize = 64 * 1024;

struct ReadArchiveFree {
  void operator()(struct archive* a) const { archive_read_free(a); }
};
using ReadArchive = std::unique_ptr<struct archive, ReadArchiveFree>;

QString ArchiveErrorText(struct archive* a) {
  const char* text = archive_error_string(a);
  return text ? QString::fromLocal8Bit(text) : QStringLiteral("libarchive error");
}

// A ZIP cut short right after an entry reads as complete to a reader that
// walks its local headers; the central directory at its end is what says
// which entries it holds. So a ZIP is read through that directory only, and
// one without it does not open.
bool StartsAsZip(const QString& fileName) {
  QFile file(fileName);
  if (!file.open(QIODevice::ReadOnly)) return false;
  const QByteArray magic = file.read(4);
  return magic == QByteArrayLiteral("PK\x03\x04") || magic == QByteArrayLiteral("PK\x05\x06");
}

ReadArchive OpenForReading(const QString& fileName, QString& errorText, bool cutShort = false) {
  ReadArchive a(archive_read_new());
  if (StartsAsZip(fileName) && cutShort) {
    archive_read_support_format_zip_streamable(a.get());
  } else if (StartsAsZip(fileName)) {
    archive_read_support_format_zip_seekable(a.get());
  } else {
    archive_read_support_format_all(a.get());
    archive_read_support_filter_all(a.get());
  }
  if (archive_read_open_filename(a.get(), QFile::encodeName(fileName).constData(), kBlockSize) !=
      ARCHIVE_OK) {
    errorText = ArchiveErrorText(a.get());
    return nullptr;
  }
  return a;
}

// The part of an entry's name after its last separator of either kind: the
// stored folders of an archive made elsewhere never reach the disk.
QString BareName(struct archive_entry* entry) {
  const char* utf8 = archive_entry_pathname_utf8(entry);
  QString name = utf8 ? QString::fromUtf8(utf8)
                      : QString::fromLocal8Bit(
                            archive_entry_pathname(entry) ? archive_entry_pathname(entry) : "");
  const qsizetype cut =
      std::max(name.lastIndexOf(QLatin1Char('/')), name.lastIndexOf(QLatin1Char('\\')));
  if (cut >= 0) name = name.mid(cut + 1);
  if (name == QLatin1String(".") || name == QLatin1String("..")) return QString();
  return name;
}

bool IsPlainFileEntry(struct archive_entry* entry) {
  return archive_entry_filetype(entry) == AE_IFREG && archive_entry_hardlink(entry) == nullptr;
}

// Opens the archive and hands each entry's bare name and plain-file flag to
// onEntry(archive, name, plain), which reads or skips the entry's data and
// returns false (errorText set) to stop. False also when the archive cannot
// be opened or an entry's header cannot be read.
template <typename OnEntry>
bool WalkEntries(const QString& fileName, QString& errorText, OnEntry&& onEntry,
                 bool cutShort = false) {
  ReadArchive a = OpenForReading(fileName, errorText, cutShort);
  if (!a) return false;
  struct archive_entry* entry = nullptr;
  for (;;) {
    const int r = archive_read_next_header(a.get(), &entry);
    if (r == ARCHIVE_EOF) return true;
    if (r < ARCHIVE_WARN) {
      errorText = ArchiveErrorText(a.get());
      return false;
    }
    if (!onEntry(a.get(), BareName(entry), IsPlainFileEntry(entry))) return false;
  }
}

// Hands each data block of the current entry to onBlock(buffer, size, offset);
// false when a block cannot be read (errorText set) or onBlock returns false.
template <typename OnBlock>
bool ReadEntryData(struct archive* a, const QString& name, QString& errorText, OnBlock&& onBlock) {
  const void* buffer = nullptr;
  size_t size = 0;
  la_int64_t offset = 0;
  for (;;) {
    const int d = archive_read_data_block(a, &buffer, &size, &offset);
    if (d == ARCHIVE_EOF) return true;
    // A checksum mismatch comes as a warning at the end of the entry.
    if (d != ARCHIVE_OK) {
      errorText = QStringLiteral("%1: %2").arg(name, ArchiveErrorText(a));
      return false;
    }
    if (!onBlock(buffer, static_cast<qint64>(size), static_cast<qint64>(offset))) return false;
  }
}

// The current entry's data whole into `bytes`; false (errorText set) when a
// block cannot be read. Sparse entries report holes through the offsets; a
// hole reads back as zeros.
bool ReadEntryBytes(struct archive* a, const QString& name, QByteArray& bytes, QString& errorText) {
  bytes.clear();
  return ReadEntryData(a, name, errorText, [&](const void* buffer, qint64 size, qint64 offset) {
    if (bytes.size() < offset) bytes.append(offset - bytes.size(), '\0');
    bytes.replace(offset, qMin<qint64>(size, bytes.size() - offset),
                  static_cast<const char*>(buffer), size);
    return true;
  });
}

QString RarFileName() {
#ifdef Q_OS_WIN
  return QStringLiteral("rar.exe");
#else
  return QStringLiteral("rar");
#endif
}

}  // namespace

QMap<QString, qint64> TArchiver::FolderFiles(const QString& folder) {
  QMap<QString, qint64> files;
  const QFileInfoList list =
      QDir(folder).entryInfoList(QDir::Files | QDir::Hidden | QDir::System, QDir::Name);
  for (const QFileInfo& info : list) files.insert(info.fileName(), info.size());
  return files;
}

TArchiver::TArchiver(QString programFolder) : FProgramFolder(std::move(programFolder)) {}

QString TArchiver::RarProgram() const {
  const QString path = FProgramFolder + RarFileName();
  const QFileInfo info(path);
  return info.isFile() && info.isExecutable() ? path : QString();
}

bool TArchiver::PackWithRar(const QString& rar, const QString& packetFolder, const QString& tmpName,
                            QString& errorText) const {
  // The archiver's own command line: -df deletes each file once stored, -m5
  // compresses hardest, -ep stores bare names.
  QString output;
  const qint64 code =
      RunAndWait(rar,
                 {QStringLiteral("a"), QStringLiteral("-df"), QStringLiteral("-m5"),
                  QStringLiteral("-ep"), tmpName, packetFolder + QStringLiteral("*.*")},
                 false, QDir::currentPath(), &output);
  output = output.trimmed();
  if (code == -1) {
    errorText = QStringLiteral("Архиваторът %1 не може да бъде стартиран: %2").arg(rar, output);
    return false;
  }
  if (code != 0) {
    errorText =
        QStringLiteral("Архиваторът %1 завърши с код %2. %3").arg(rar).arg(code).arg(output);
    return false;
  }
  return true;
}

bool TArchiver::PackWithLibarchive(const QString& packetFolder, const QMap<QString, qint64>& files,
                                   const QString& tmpName, QString& errorText) {
  TZipWriter zip;
  if (!zip.Open(tmpName, errorText)) return false;
  for (auto it = files.cbegin(); it != files.cend(); ++it) {
    if (!zip.AddFile(it.key(), packetFolder + it.key(), errorText)) return false;
  }
  return zip.Close(errorText);
}

bool TArchiver::ListArchive(const QString& archive, QMap<QString, qint64>& entries,
                            QString& errorText) {
  entries.clear();
  return WalkEntries(archive, errorText, [&](struct archive* a, const QString& name, bool plain) {
    qint64 total = 0;
    const bool read =
        ReadEntryData(a, name, errorText, [&](const void*, qint64 size, qint64 offset) {
          total = std::max<qint64>(total, offset + size);
          return true;
        });
    if (!read) return false;
    if (plain && !name.isEmpty()) entries.insert(name, total);
    return true;
  });
}

bool TArchiver::ListPacketEntries(const QString& archive, QStringList& names, QString& errorText) {
  names.clear();
  return WalkEntries(archive, errorText, [&](struct archive* a, const QString& name, bool plain) {
    if (!plain || name.isEmpty()) return true;
    names.append(name);
    // What is not extracted need not be read; what is, is read through so
    // that a damaged entry shows before anything is written.
    if (!IsPacketEntryName(name)) return true;
    return ReadEntryData(a, name, errorText, [](const void*, qint64, qint64) { return true; });
  });
}

bool TArchiver::ListPacketEntrySizes(const QString& archive, QMap<QString, qint64>& entries,
                                     QStringList& names, QString& errorText) {
  entries.clear();
  names.clear();
  return WalkEntries(archive, errorText, [&](struct archive* a, const QString& name, bool plain) {
    if (!plain || name.isEmpty() || !IsPacketEntryName(name)) return true;
    names.append(name);
    qint64 total = 0;
    const bool read =
        ReadEntryData(a, name, errorText, [&](const void*, qint64 size, qint64 offset) {
          total = std::max<qint64>(total, offset + size);
          return true;
        });
    if (read) entries.insert(name, total);
    return read;
  });
}

namespace {

bool SyncToDisk(const QString& fileName) {
  QFile file(fileName);
  if (!file.open(QIODevice::ReadOnly)) return false;
  return ::fsync(file.handle()) == 0;
}

// True when the packet folder holds no plain file any more; otherwise false
// with the names of those left.
bool FolderIsEmpty(const QString& packetFolder, QString& errorText) {
  const QMap<QString, qint64> left = TArchiver::FolderFiles(packetFolder);
  if (left.isEmpty()) return true;
  errorText = QStringLiteral("В папката %1 останаха неархивирани файлове: %2.")
                  .arg(packetFolder, QStringList(left.keys()).join(QStringLiteral(", ")));
  return false;
}

}  // namespace

bool TArchiver::PackPacketFolder(const QString& packetFolder, QString& archiveName,
                                 QString& errorText) {
  archiveName = PacketLayout::ArchiveName(packetFolder);
  errorText.clear();
  const QString tmpName = archiveName + QStringLiteral(".tmp");
  const QMap<QString, qint64> files = FolderFiles(packetFolder);
  if (files.isEmpty()) {
    errorText = QStringLiteral("Папката %1 не съдържа файлове за архивиране.").arg(packetFolder);
    return false;
  }
  // An archive left at this name would be added to (rar) or replaced
  // (libarchive); either loses or mixes a packet, so it is left alone.
  if (QFileInfo::exists(tmpName)) {
    errorText = QStringLiteral("Файлът %1 вече съществува.").arg(tmpName);
    return false;
  }

  const QString rar = RarProgram();
  if (!rar.isEmpty()) {
    if (!PackWithRar(rar, packetFolder, tmpName, errorText)) return false;
  } else if (!PackWithLibarchive(packetFolder, files, tmpName, errorText)) {
    QFile::remove(tmpName);  // incomplete; the folder still holds every file
    return false;
  }

  return ReleasePackedFiles(packetFolder, files, tmpName, rar.isEmpty(), errorText);
}

bool TArchiver::ReleasePackedFiles(const QString& packetFolder, const QMap<QString, qint64>& files,
                                   const QString& tmpName, bool deleteFiles, QString& errorText) {
  // Nothing of the folder is given up before the archive has been read back
  // whole and found to hold every file at its size.
  QMap<QString, qint64> stored;
  QString readError;
  if (!ListArchive(tmpName, stored, readError)) {
    errorText = QStringLiteral("Архивът %1 не може да бъде прочетен: %2").arg(tmpName, readError);
    return false;
  }
  for (auto it = files.cbegin(); it != files.cend(); ++it) {
    const auto found = stored.constFind(it.key());
    if (found == stored.cend()) {
      errorText = QStringLiteral("Архивът %1 не съдържа файла %2.").arg(tmpName, it.key());
      return false;
    }
    if (found.value() != it.value()) {
      errorText = QStringLiteral("Файлът %1 в архива %2 е с размер %3 вместо %4.")
                      .arg(it.key(), tmpName)
                      .arg(found.value())
                      .arg(it.value());
      return false;
    }
  }
  if (deleteFiles) return DeletePackedFiles(packetFolder, files, tmpName, errorText);
  return FolderIsEmpty(packetFolder, errorText);
}

bool TArchiver::DeletePackedFiles(const QString& packetFolder, const QMap<QString, qint64>& files,
                                  const QString& tmpName, QString& errorText) {
  // The files are written without waiting for the disk; once they are
  // deleted the archive is the only copy, so it reaches the disk first.
  if (!SyncToDisk(tmpName)) {
    errorText = QStringLiteral("Архивът %1 не може да бъде записан на диска.").arg(tmpName);
    return false;
  }
  for (auto it = files.cbegin(); it != files.cend(); ++it) {
    if (!ForceDeleteFile(packetFolder + it.key())) {
      errorText = QStringLiteral("Файлът %1 не може да бъде изтрит.").arg(packetFolder + it.key());
      return false;
    }
  }
  return FolderIsEmpty(packetFolder, errorText);
}

bool TArchiver::ReadEntries(const QString& archive, const TEntryReader& onEntry, QString& errorText,
                            bool cutShort) {
  return WalkEntries(
      archive, errorText,
      [&](struct archive* a, const QString& name, bool plain) {
        if (!plain || name.isEmpty()) return archive_read_data_skip(a) == ARCHIVE_OK;
        QByteArray bytes;
        return ReadEntryBytes(a, name, bytes, errorText) && onEntry(name, bytes, errorText);
      },
      cutShort);
}

bool TArchiver::ReadEntriesInParts(const QString& archive, int parts,
                                   const TPartEntryReader& onEntry, QString& errorText) {
  errorText.clear();
  if (parts < 2 || !StartsAsZip(archive)) {
    qint64 index = 0;
    return ReadEntries(
        archive,
        [&](const QString& name, const QByteArray& bytes, QString& error) {
          return onEntry(0, index++, name, bytes, error);
        },
        errorText);
  }
  struct TPart {
    bool Read = true;
    qint64 FailedAt = -1;  // the entry a failure came at; -1: the archive did not open
    QString Error;
  };
  std::vector<TPart> results(parts);
  const auto readPart = [&](int part) {
    TPart& result = results[part];
    qint64 index = -1;
    result.Read =
        WalkEntries(archive, result.Error, [&](struct archive* a, const QString& name, bool plain) {
          ++index;
          if (!plain || name.isEmpty() || index % parts != part) {
            if (archive_read_data_skip(a) == ARCHIVE_OK) return true;
            result.Error = QStringLiteral("%1: %2").arg(name, ArchiveErrorText(a));
            return false;
          }
          QByteArray bytes;
          return ReadEntryBytes(a, name, bytes, result.Error) &&
                 onEntry(part, index, name, bytes, result.Error);
        });
    if (!result.Read) result.FailedAt = index;
  };
  std::vector<std::thread> threads;
  int inlineFrom = parts;
  for (int part = 1; part < parts; ++part) {
    try {
      threads.emplace_back(readPart, part);
    } catch (const std::system_error&) {
      inlineFrom = part;
      break;
    }
  }
  readPart(0);
  for (int part = inlineFrom; part < parts; ++part) readPart(part);
  for (std::thread& thread : threads) thread.join();
  const TPart* first = nullptr;
  for (const TPart& result : results)
    if (!result.Read && (!first || result.FailedAt < first->FailedAt)) first = &result;
  if (!first) return true;
  errorText = first->Error;
  return false;
}

bool TArchiver::RenamePacketArchive(const QString& archiveName, const QString& extension,
                                    QString& packetFile, QString& errorText) {
  errorText.clear();
  const QString oldName = archiveName + QStringLiteral(".tmp");
  packetFile = PacketLayout::PacketFileName(archiveName, extension);
  if (QFileInfo::exists(packetFile)) {
    errorText = QStringLiteral("Файлът %1 вече съществува. Новият пакет остава във файла %2.")
                    .arg(packetFile, oldName);
    return false;
  }
  QFile file(oldName);
  if (!file.rename(packetFile)) {
    errorText = QStringLiteral("Файлът %1 не може да бъде преименуван на %2: %3")
                    .arg(oldName, packetFile, file.errorString());
    return false;
  }
  return true;
}

bool TArchiver::ExtractWithLibarchive(const QString& packetFile, const QString& unpackFolder,
                                      QString& errorText, const TEntrySink& onEntry) {
  // Each entry is inflated whole here, and written (then handed to onEntry)
  // by the writer's thread while the next ones are inflated.
  TArchiverFileWriter writer;
  const bool walked =
      WalkEntries(packetFile, errorText, [&](struct archive* a, const QString& name, bool plain) {
        if (!plain || name.isEmpty() || !IsPacketEntryName(name)) {
          archive_read_data_skip(a);
          return true;
        }
        QByteArray bytes;
        if (!ReadEntryBytes(a, name, bytes, errorText)) return false;
        TArchiverFileWriter::TWritten written;
        if (onEntry) written = [&onEntry, name](const QByteArray& data) { onEntry(name, data); };
        return writer.Write(unpackFolder + name, std::move(bytes), errorText, std::move(written));
      });
  // Every file inflated before a failure is still written, as it was when
  // each was written before the next was read.
  QString writeError;
  const bool written = writer.Finish(writeError);
  if (!walked) {
    if (errorText.isEmpty()) errorText = writeError;
    return false;
  }
  if (!written) {
    errorText = writeError;
    return false;
  }
  return true;
}

bool TArchiver::ExtractPacket(const QString& packetFile, const QString& unpackFolder,
                              QString& errorText, const TEntrySink& onEntry) {
  errorText.clear();
  if (!QFileInfo(packetFile).isFile()) {
    errorText = QStringLiteral("Пакетът %1 не може да бъде разархивиран: файлът не съществува.")
                    .arg(packetFile);
    return false;
  }
  // Nothing reaches the disk before the listing has been read whole and
  // shows one packet.
  QStringList names;
  QString listError;
  if (!ListPacketEntries(packetFile, names, listError)) {
    errorText = QStringLiteral(
                    "Пакетът %1 не може да бъде разархивиран: архивът е непълен или повреден (%2).")
                    .arg(packetFile, listError);
    return false;
  }
  errorText = PacketEntriesError(packetFile, names);
  if (!errorText.isEmpty()) return false;
  if (!QDir(unpackFolder).exists() && !QDir().mkpath(unpackFolder)) {
    errorText = QStringLiteral("Папката %1 не може да бъде създадена.").arg(unpackFolder);
    return false;
  }
  // The rar program extracts every entry; a packet with anything beside its
  // own files is extracted here, one entry at a time.
  const bool onlyPacketEntries = std::all_of(names.cbegin(), names.cend(), IsPacketEntryName);
  const QString rar = onlyPacketEntries ? RarProgram() : QString();
  QString detail;
  if (!rar.isEmpty()) {
    // "e" drops the stored folders, "-o+" replaces existing files.
    QString output;
    const qint64 code =
        RunAndWait(rar, {QStringLiteral("e"), QStringLiteral("-o+"), packetFile, unpackFolder},
                   false, unpackFolder, &output);
    output = output.trimmed();
    if (code == 0) return true;
    // The rar program may not read what libarchive wrote elsewhere (ZIP).
    detail = code == -1 ? output : QStringLiteral("%1: код %2. %3").arg(rar).arg(code).arg(output);
  }
  QString libError;
  if (ExtractWithLibarchive(packetFile, unpackFolder, libError, onEntry)) return true;
  if (!detail.isEmpty()) libError = detail + QStringLiteral("; ") + libError;
  errorText =
      QStringLiteral("Пакетът %1 не може да бъде разархивиран: %2").arg(packetFile, libError);
  return false;
}
