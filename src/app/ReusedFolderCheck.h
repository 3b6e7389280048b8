#pragma once

#include <QString>

// A folder unpacked earlier is reused only when it is what extracting the
// packet gives: an extraction that stopped half-way (a full disk, a killed
// program) leaves a folder that looks complete but lacks the later files, and
// those tables would install empty.
//
// The error text when the packet's own files in `unpackFolder` (descriptor,
// chunk files, manifest) differ from the packet file's listing, empty when
// they agree: the same names, and the same sizes. A chunk or the manifest may
// differ in size when the folder holds a manifest, because saving a repaired
// chunk in the explorer records it there and the packet check compares every
// chunk with it; the descriptor is never edited and must match. A folder
// without the descriptor is left to the run, which names that itself.
QString ReusedFolderError(const QString& packetFile, const QString& unpackFolder);
