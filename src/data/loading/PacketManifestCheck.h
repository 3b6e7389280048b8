#pragma once

#include <QHash>
#include <QString>
#include <QStringList>

#include "PacketManifest.h"

// Writes the manifest of a packet folder (ends with a separator) for the
// descriptor's tables: every chunk file of each table, read back to count its
// rows, with its checksum. ENompackError when a chunk cannot be read.
void WritePacketManifest(const QString& packetFolder, const QStringList& tables);

// What a caller has already read of an unpacked folder, so that the check
// need not read it again: per chunk file name its rows and checksum, per
// table its chunk files as the installer finds them.
struct TCheckedChunks {
  QHash<QString, int> Rows;
  QHash<QString, QByteArray> Checksums;
  QHash<QString, QStringList> TableFiles;
};

// The error text when the unpacked folder is not the packet the manifest
// describes, empty when it is: every listed chunk present with its checksum
// and row count, every table's chunk count and row count as listed, no chunk
// file of a descriptor table beyond the list (so each table's chunk count and
// row count are the listed ones), no listed table missing from the
// descriptor. What `checked` does not hold is read here.
QString PacketManifestError(const QString& packetFolder, const QStringList& tables,
                            const TPacketManifest& manifest, const TCheckedChunks& checked = {});
