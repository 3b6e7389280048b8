#pragma once

#include <QString>
#include <QStringList>

// A table's chunk files must be numbered 1, 2, ... n without a gap and
// without two files of one number: a lost chunk in the middle would install
// as a table silently short of rows, two of one number as rows loaded twice.
// This holds for every packet, with a manifest or without one.
//
// The error text for the table's chunk files (in loading order, as
// SortChunkFiles leaves them), empty when they are complete.
QString ChunkSequenceError(const QString& table, const QStringList& sortedChunkFiles);
