#pragma once

#include <QDateTime>
#include <QString>
#include <QStringList>

// Names and paths of a packet from end to end: base name, packet folder,
// descriptor, chunk files, archive, packet file and unpack folder.
namespace PacketLayout {

inline const QString kDescriptorFileName = QStringLiteral("tables.descr");

// The 37 tables every generation exports, in export (and descriptor) order.
const QStringList& PacketTables();

// "nompack_%s_%.4d%.2d%.2d-%.2d%.2d%.2d": tag, then the local date and time.
QString BuildPacketName(const QString& tag, const QDateTime& when = QDateTime::currentDateTime());

QString PacketFolder(const QString& exportFolder, const QString& baseName);
QString ChunkFileName(const QString& table, int chunkNo);  // "%s[%d].xml"
QString ChunkFileMask(const QString& table);               // "%s[*].xml"
// The packet folder without its final separator, followed by ".rar".
QString ArchiveName(const QString& packetFolder);
// The archive name with ".rar" replaced by the packet extension.
QString PacketFileName(const QString& archiveName, const QString& extension);
// The packet file path without the extension of its file name, ending with
// a separator; dots in folder names stay.
QString UnpackFolder(const QString& packetFile);

// The descriptor's lines: "{version}" and the table names.
QStringList TablesDescrLines(const QString& version);

}  // namespace PacketLayout

// Returns the path unchanged when it is empty or ends with a separator,
// otherwise with the platform's separator appended. Only the last character
// is looked at.
QString AddTrailingBackslash(const QString& path);
