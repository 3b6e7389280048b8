#pragma once

#include <QString>
#include <QStringList>

// The descriptor decides which tables of the target are emptied, so only
// what a generation writes may stand in it: the version line, then at least
// one of the reference tables, none twice. A table the generation never
// writes (a document table, a monitoring table, a site's own table) would be
// emptied and never refilled.
//
// The error text for the descriptor's lines (as the file holds them), empty
// when it may be installed.
QString DescriptorError(const QStringList& descriptorLines);
