#pragma once

#include <QString>

// The database kind of a source or target. The values are the positions of
// the kind in the window's choice and the command line's index, so they
// stay as they are.
enum class DataBaseType { MySQL = 0, FireBird = 1, MSSQL = 2 };

// The kind of a position in the kind choice; a position beyond the list
// counts as the last kind, MSSQL, as the choice has always read it.
DataBaseType DataBaseTypeFromIndex(int index);

// The kind's tag in packet names: "mydb", "fbdb", "msdb".
QString DataBaseTag(DataBaseType type);
// The packet file extension of packets exported from that kind: ".mpd",
// ".fpd", ".mspd".
QString DataBasePacketExtension(DataBaseType type);
