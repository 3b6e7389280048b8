#pragma once

#include <QString>

#include "DateTime.h"

// The spelling of single values in ROW attributes, both ways. The writers put
// their text at `p` and return the end; the caller provides the room. The
// parsers take text without surrounding blanks and answer false when it does
// not parse.
namespace DataPacketValues {

constexpr int kMaxNumberText = 40;  // room for any number written below
constexpr int kDateText = 8;        // YYYYMMDD
constexpr int kTimeText = 11;       // HH:MM:SSmmm

char* WriteInteger(char* p, qint64 value);
// The shortest text that reads back to the same double, '.' as separator;
// integral values without a fraction.
char* WriteDouble(char* p, double value);
// Year 1..9999.
char* WriteDate(char* p, int year, int month, int day);
char* WriteTime(char* p, int msecOfDay);

bool ParseInteger(const char* p, qsizetype n, qint64& out);
bool ParseDouble(const char* p, qsizetype n, double& out);
bool ParseBoolean(const char* p, qsizetype n, bool& out);
// Plain decimal text (sign, digits, '.', digits) of a number that may also be
// written with ',' or an exponent.
bool ParseDecimal(const char* p, qsizetype n, QString& out);
// YYYYMMDD, HH:MM:SSmmm or both joined by 'T'; non-digits in the date part
// are skipped and missing millisecond digits count as zeros.
bool ParseDateTime(const char* p, qsizetype n, TDateTime& out);

}  // namespace DataPacketValues
