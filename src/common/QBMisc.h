#pragma once

#include <QString>
#include <QStringList>

#include "Currency.h"
#include "Variant.h"

// The maker's small routines that need no window: file and folder removal,
// running a program, string tests, variant conversions, currency rounding.

// Clears the file's read-only state, then deletes it.
bool ForceDeleteFile(const QString& fileName);

// Removes the folder tree. Stops deleting at the first entry that cannot be
// removed (what came before stays deleted, the rest stays in place) and then
// returns false without removing the folder itself. A missing folder gives false.
bool DeleteFolder(const QString& folder);

// Starts the command line (program and arguments, double quotes group words)
// in `workingFolder` (the current folder when empty) and waits for it without
// a time limit. Returns the exit code; -1 when the process could not be
// started; -2 when it ended abnormally (killed by a signal). `showWindow` has
// no effect where programs have no console windows.
qint64 RunAndWait(const QString& commandLine, bool showWindow, const QString& workingFolder);
// The same for a program and its arguments as they are, so that no quoting
// has to survive a split. With `output`, what the program writes (both
// channels) is collected there instead of passed through, its input is
// empty, and a program that does not start leaves the reason there.
qint64 RunAndWait(const QString& program, const QStringList& arguments, bool showWindow,
                  const QString& workingFolder, QString* output = nullptr);

// 1-based position of the occurrence of `c` found after passing over `skip`
// occurrences from the end; 0 when there are not that many.
int LastCharPos(QChar c, const QString& text, int skip);
// True when every character is 0..9 (also for the empty text).
bool IsDigits(const QString& text);

// The default for Null, otherwise the ordinary variant conversion (which
// throws for content that is no number). Empty converts to 0.
qint32 VarToIntDef(const Variant& value, qint32 def);
qint64 VarToInt64Def(const Variant& value, qint64 def);
double VarToFloatDef(const Variant& value, double def);

// Rounds a currency value to `unit` steps per whole (1, 10, 100, 1000 or
// 10000). Mode 0: halves away from zero; 1: away from zero; 2: towards zero.
Currency RND(int unit, int mode, Currency value);
