#pragma once

#include <QString>
#include <QStringList>

// What of an archive may reach the unpack folder. A packet holds its
// descriptor, its chunk files and its manifest, under bare names; anything
// else in it (a huge file beside the chunks, a program) is never written.

// True for "tables.descr", a chunk file name ("%s[%d].xml") and the
// manifest, letter case ignored as the installer's file search ignores it.
bool IsPacketEntryName(const QString& bareName);

// The error text for the bare names of an archive's plain file entries (in
// archive order), empty when it may be extracted: exactly one descriptor, and
// no two packet entries that would land on one file (letter case ignored, as
// on the file systems that ignore it, so a packet means the same everywhere).
QString PacketEntriesError(const QString& packetFile, const QStringList& bareNames);
