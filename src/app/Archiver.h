#pragma once

#include <QByteArray>
#include <QMap>
#include <QString>
#include <QStringList>
#include <functional>

// Packs a packet folder into its archive, renames the archive to the packet
// file and extracts a packet into its unpack folder.
//
// When a "rar" program lies in the program's folder it does the work, with
// its own command lines; otherwise libarchive does: packing writes a ZIP
// (deflate, strongest level, bare names), extraction reads every format
// libarchive knows (RAR 4/5, ZIP, 7z, tar, ...), so a packet made by either
// installs everywhere.
//
// Every step reports its failure as false plus an error text the runs show;
// nothing throws.
class TArchiver {
 public:
  // `programFolder` ends with a separator (or is empty: the current folder).
  explicit TArchiver(QString programFolder);

  // The "rar" program of the program folder when it is there and
  // executable, otherwise empty.
  QString RarProgram() const;

  // Stores every plain file of `packetFolder` (ends with a separator) under
  // its bare name into archiveName + ".tmp" and deletes the stored files;
  // the folder itself stays. archiveName is always set (the packet folder
  // without its separator, + ".rar"). True only when the archive exists and
  // holds every file the folder held, each complete; then the folder is
  // empty. On false the files that were not stored stay in the folder.
  bool PackPacketFolder(const QString& packetFolder, QString& archiveName, QString& errorText);

  // The end of packing with libarchive, also of an archive written while
  // the files were made: reads tmpName back whole and finds each of `files`
  // (bare name and size) in it at its size; only then, with deleteFiles, is
  // the archive forced to the disk and are the files deleted from the
  // folder. True when the folder is empty at the end; false with the error
  // text otherwise (the archive stays; files not deleted stay).
  static bool ReleasePackedFiles(const QString& packetFolder, const QMap<QString, qint64>& files,
                                 const QString& tmpName, bool deleteFiles, QString& errorText);
  // The last step of that, for an archive already found whole: forces
  // tmpName to the disk, then deletes each of `files` from the folder. True
  // when the folder is empty at the end; false with the error text otherwise
  // (files not deleted stay).
  static bool DeletePackedFiles(const QString& packetFolder, const QMap<QString, qint64>& files,
                                const QString& tmpName, QString& errorText);

  // Reads every plain file entry of an archive whole, in archive order, and
  // hands its bare name and bytes to onEntry, which returns false (its
  // error text set) to stop. False with the error text when the archive
  // cannot be opened or read to its end, or onEntry stopped. With
  // `cutShort` a ZIP is read by its entries' own headers, so that one that
  // lost its directory still yields the entries before the cut: only for a
  // caller that checks each entry against what it wrote.
  using TEntryReader =
      std::function<bool(const QString& name, const QByteArray& bytes, QString& errorText)>;
  static bool ReadEntries(const QString& archive, const TEntryReader& onEntry, QString& errorText,
                          bool cutShort = false);

  // Reads the entries as ReadEntries does, on `parts` threads at once where
  // the archive is a ZIP (whose directory lets each thread pass over the
  // others' entries without reading them): part k reads every parts-th
  // entry, k first, and onEntry(part, index, ...) runs on that part's
  // thread, one entry at a time per part; `index` orders the entries as the
  // archive does. A failure stops its part only; the one of the earliest
  // entry is the error text.
  using TPartEntryReader = std::function<bool(int part, qint64 index, const QString& name,
                                              const QByteArray& bytes, QString& errorText)>;
  static bool ReadEntriesInParts(const QString& archive, int parts, const TPartEntryReader& onEntry,
                                 QString& errorText);

  // The plain files of a folder (hidden ones too) with their sizes.
  static QMap<QString, qint64> FolderFiles(const QString& folder);

  // Renames archiveName + ".tmp" to the archive name with ".rar" replaced by
  // `extension`. An existing file of that name is never replaced: false,
  // and the ".tmp" file stays. packetFile is always set to the final name.
  bool RenamePacketArchive(const QString& archiveName, const QString& extension,
                           QString& packetFile, QString& errorText);

  // Extracts the packet's own file entries (descriptor, chunk files,
  // manifest) into `unpackFolder` (ends with a separator; created when
  // missing) under their bare names, replacing files of the same name. Other
  // files, folder entries, links and names that are only "." or ".." are
  // skipped, so nothing else is written and nothing outside the folder.
  // Before anything is written the whole listing is read: an archive that
  // cannot be read to its end, holds no descriptor or two, or two entries of
  // one name is refused (false, error text) with the folder untouched. A
  // failure during extraction leaves the files extracted before it.
  //
  // `onEntry`, when given, receives each extracted entry's bare name and
  // whole contents, in archive order, once its file is written, on the
  // thread that writes the files (while the next entries are inflated): a
  // caller can check the bytes without reading the files back. Every call
  // has returned when ExtractPacket does. The rar program's extraction
  // hands nothing.
  using TEntrySink = std::function<void(const QString& name, const QByteArray& bytes)>;
  bool ExtractPacket(const QString& packetFile, const QString& unpackFolder, QString& errorText,
                     const TEntrySink& onEntry = {});

  // Bare names of the plain file entries of an archive, in archive order,
  // duplicates included; the data of the packet's own entries is read through
  // to its end. False with the error text when the archive cannot be opened
  // or read completely.
  static bool ListPacketEntries(const QString& archive, QStringList& names, QString& errorText);

  // Bare names and sizes of the packet's own entries (IsPacketEntryName), as
  // extraction would write them, `names` in archive order; each read
  // through to its end, the other entries skipped unread. False with the
  // error text when the archive cannot be opened or read completely.
  static bool ListPacketEntrySizes(const QString& archive, QMap<QString, qint64>& entries,
                                   QStringList& names, QString& errorText);

  // Bare names and sizes of the plain files of an archive, every entry read
  // through to its end (so that checksums are verified). False with the
  // error text when the archive cannot be opened or read completely.
  static bool ListArchive(const QString& archive, QMap<QString, qint64>& entries,
                          QString& errorText);

 private:
  QString FProgramFolder;

  bool PackWithRar(const QString& rar, const QString& packetFolder, const QString& tmpName,
                   QString& errorText) const;
  static bool PackWithLibarchive(const QString& packetFolder, const QMap<QString, qint64>& files,
                                 const QString& tmpName, QString& errorText);
  static bool ExtractWithLibarchive(const QString& packetFile, const QString& unpackFolder,
                                    QString& errorText, const TEntrySink& onEntry);
};
