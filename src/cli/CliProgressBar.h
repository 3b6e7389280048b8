#pragma once

#include <QString>
#include <QtGlobal>

// The text of the command line's live bar for one stage (a table, the
// packet check): the bar, the percentage, the caption and, once there is
// enough to go on, the rate and the time left:
//
//   [#########           ]  43% ARTICLE  12 345 ред/с, остават 0:07
//
// Pure, so that it is tested without a terminal.
namespace CliProgressBar {

// Below this the first rows say little about the rate: no estimate yet.
constexpr qint64 kMinEstimateMs = 1000;
constexpr int kBarWidth = 20;

// `elapsedMs` is the time since the stage began (a steady clock), `done`
// the units finished since then. `rateUnit` names what is counted per
// second ("ред/с"); empty shows the time left without a rate. The text is
// kept within `width` characters by shortening the caption from the front,
// so that the table name at its end stays.
QString Text(const QString& caption, int done, int total, qint64 elapsedMs, const QString& rateUnit,
             int width);

// "12 345": groups of three digits with spaces.
QString GroupedNumber(qint64 value);
// "0:07", "12:30", "1:02:03": minutes and seconds, hours when there are any.
QString TimeLeftText(qint64 seconds);

}  // namespace CliProgressBar
