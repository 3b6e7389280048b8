#pragma once

#include <QByteArray>
#include <QString>

#include "Connection.h"
#include "DateTime.h"

// Value helpers the three client layers share: what a parameter is bound as,
// text in the session code page, exact decimals and split date-times.
namespace DbValues {

// The field type a value of that variant type is bound as when the caller
// declared none (ftUnknown).
TFieldType FieldTypeForValue(const Variant& value);
// The declared type, or the value's own for ftUnknown.
TFieldType BindType(const TParam& param);
// The value in the form the bind type holds (Null stays Null). A value that
// does not convert fails with ENompackError (Conversion) naming the parameter.
Variant BindValue(const TParam& param);

// Text in Windows-1251; a character without a Windows-1251 form fails with
// ENompackError (Conversion) naming the parameter.
QByteArray EncodeParamText(const QString& paramName, const QString& text);
[[noreturn]] void FailParam(const QString& paramName, const QString& reason);

// Decimal text scaled to an integer count of 10^-scale units, halves rounded
// away from zero. False when the text is no decimal or does not fit in 64 bits.
bool DecimalToScaled(const QString& text, int scale, qint64& out);
// "-123.45" for (-12345, 2): the exact decimal text, trailing zeros dropped.
QString ScaledToDecimal(qint64 value, int scale);
// Any number text ("1.5e3", "12.50") as plain normalised decimal text with at
// most `scale` decimals, for drivers that hand out exponents.
QString NumberTextToDecimal(const QString& text, int scale);

// A date-time split into calendar parts and back; dates before 1899 and
// milliseconds included.
struct TDateParts {
  int Year = 1899;
  int Month = 12;
  int Day = 30;
  int Hour = 0;
  int Minute = 0;
  int Second = 0;
  int MSec = 0;
};
TDateParts SplitDateTime(TDateTime value);
// Throws ENompackError (Conversion) for a calendar date that does not exist.
TDateTime JoinDateTime(const TDateParts& parts);
// The time of day as a fraction of a day, from a count of milliseconds that
// may pass 24 hours or be negative (MySQL TIME values).
TDateTime TimeFromMSecs(qint64 msecs);

}  // namespace DbValues
