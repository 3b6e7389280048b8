#pragma once

#include <QByteArray>
#include <QString>
#include <memory>

struct archive;

// Writes a packet archive: a ZIP of bare-named plain files, deflated at the
// strongest level, names in UTF-8, each entry 0644 with its file's time.
// Every step reports its failure as false plus an error text; nothing throws.
class TZipWriter {
 public:
  TZipWriter();
  ~TZipWriter();
  TZipWriter(const TZipWriter&) = delete;
  TZipWriter& operator=(const TZipWriter&) = delete;

  // Creates (or replaces) the archive file.
  bool Open(const QString& archiveName, QString& errorText);
  // Appends one entry holding `data` under `bareName`.
  bool AddEntry(const QString& bareName, const QByteArray& data, qint64 mtime, QString& errorText);
  // Appends the file `path` under `bareName`, read in blocks; false also when
  // the file ends before the size it had when opened.
  bool AddFile(const QString& bareName, const QString& path, QString& errorText);
  // Writes the central directory and closes the file. An archive that is
  // dropped without Close is incomplete (no directory, no ZIP a reader opens).
  bool Close(QString& errorText);

 private:
  struct Free {
    void operator()(struct archive* a) const;
  };
  std::unique_ptr<struct archive, Free> FArchive;

  bool WriteHeader(const QString& bareName, qint64 size, qint64 mtime, QString& errorText);
  bool Fail(QString& errorText);
};
