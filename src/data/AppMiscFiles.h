#pragma once

#include <QString>
#include <QStringList>

// File routines of the installing side: folder listings matched the way the
// packet's names are matched, string list files, chunk ordering.

// Bare names of the plain files in `folder` (ends with a separator) matching
// `mask`: '*' is any run of characters, '?' one character, everything else
// (brackets included) literal, letter case ignored; "*.*" matches every name.
// Hidden and read-only files are listed; folders are not. Unsorted: the order
// of the folder listing.
QStringList GetFileList(const QString& folder, const QString& mask);
bool MatchFileMask(const QString& name, const QString& mask);

// The file's lines (CR LF, LF or CR end a line; a final line end adds no
// line). Windows-1251 unless the file starts with a UTF-8 byte-order mark.
// Throws ENompackError (File) when the file cannot be read.
QStringList LoadStringList(const QString& fileName);
// Writes the lines, each ended by CR LF, in Windows-1251, no byte-order mark.
// Throws ENompackError (File, or Conversion for text with no Windows-1251 form).
void SaveStringList(const QStringList& lines, const QString& fileName);

// The whole number between the first '[' and the first ']'; 0 when there is
// none or it does not convert.
int GetChunkIndex(const QString& fileName);
// Ascending chunk index; equal indices keep their listing order.
void SortChunkFiles(QStringList& fileNames);
// Number of plain files in the folder.
int GetFileCount(const QString& folder);
// Upper-cases every line with the locale's rules (Cyrillic included).
void UpperCaseList(QStringList& list);
