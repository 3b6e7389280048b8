#include "DbValues.h"

#include <QDate>
#include <limits>

#include "ClientDataSet.h"
#include "Cp1251.h"
#include "NompackError.h"

namespace DbValues {

TFieldType FieldTypeForValue(const Variant& value) {
  using T = Variant::Type;
  switch (value.VarType()) {
    case T::String:
      return ftString;
    case T::Int8:
    case T::Int16:
    case T::UInt8:
      return ftSmallint;
    case T::Int32:
    case T::UInt16:
      return ftInteger;
    case T::Int64:
    case T::UInt32:
    case T::UInt64:
      return ftLargeint;
    case T::Single:
    case T::Double:
      return ftFloat;
    case T::Currency:
      return ftCurrency;
    case T::Decimal:
      return ftBCD;
    case T::DateTime:
      return ftDateTime;
    case T::Boolean:
      return ftBoolean;
    case T::Bytes:
      return ftBlob;
    case T::Empty:
    case T::Null:
      break;
  }
  return ftUnknown;
}

TFieldType BindType(const TParam& param) {
  return param.DataType == ftUnknown ? FieldTypeForValue(param.Value) : param.DataType;
}

void FailParam(const QString& paramName, const QString& reason) {
  throw ENompackError(QStringLiteral("Parameter %1: %2").arg(paramName, reason),
                      ENompackError::Kind::Conversion);
}

Variant BindValue(const TParam& param) {
  if (param.Value.IsNullOrEmpty()) return Variant::Null();
  TFieldDef def;
  def.Name = param.Name;
  def.DataType = BindType(param);
  try {
    // Currency values keep their exact fixed point; the field type's own
    // form would be a double.
    if (def.DataType == ftCurrency && param.Value.VarType() == Variant::Type::Currency)
      return param.Value;
    return CoerceToFieldType(param.Value, def);
  } catch (const ENompackError& e) {
    FailParam(param.Name, e.Message());
  }
}

QByteArray EncodeParamText(const QString& paramName, const QString& text) {
  QByteArray out;
  QChar bad;
  if (!Cp1251::TryEncode(text, out, &bad)) {
    FailParam(paramName,
              QStringLiteral("the character '%1' (U+%2) cannot be written in Windows-1251")
                  .arg(bad)
                  .arg(bad.unicode(), 4, 16, QLatin1Char('0')));
  }
  return out;
}

bool DecimalToScaled(const QString& text, int scale, qint64& out) {
  const QString t = text.trimmed();
  qsizetype i = 0;
  bool negative = false;
  if (i < t.size() && (t[i] == QLatin1Char('-') || t[i] == QLatin1Char('+'))) {
    negative = t[i] == QLatin1Char('-');
    ++i;
  }
  // Accumulate as a negative number so that the 64-bit minimum fits.
  constexpr qint64 kMin = std::numeric_limits<qint64>::min();
  qint64 acc = 0;
  int digits = 0, decimals = 0;
  bool inFraction = false, roundUp = false;
  for (; i < t.size(); ++i) {
    const QChar c = t[i];
    if (c == QLatin1Char('.') && !inFraction) {
      inFraction = true;
      continue;
    }
    if (!c.isDigit()) return false;
    const int d = c.digitValue();
    ++digits;
    if (inFraction && decimals >= scale) {
      if (decimals == scale) roundUp = d >= 5;
      ++decimals;
      continue;
    }
    if (inFraction) ++decimals;
    if (acc < (kMin + d) / 10) return false;
    acc = acc * 10 - d;
  }
  if (digits == 0) return false;
  for (; decimals < scale; ++decimals) {
    if (acc < kMin / 10) return false;
    acc *= 10;
  }
  if (roundUp) {
    if (acc == kMin) return false;
    --acc;
  }
  if (!negative) {
    if (acc == kMin) return false;
    acc = -acc;
  }
  out = acc;
  return true;
}

QString ScaledToDecimal(qint64 value, int scale) {
  const bool negative = value < 0;
  // Digits of the magnitude, without overflow for the 64-bit minimum.
  QString digits = QString::number(value);
  if (negative) digits.remove(0, 1);
  if (scale > 0) {
    if (digits.size() <= scale)
      digits.prepend(QString(scale - digits.size() + 1, QLatin1Char('0')));
    digits.insert(digits.size() - scale, QLatin1Char('.'));
    while (digits.endsWith(QLatin1Char('0'))) digits.chop(1);
    if (digits.endsWith(QLatin1Char('.'))) digits.chop(1);
  } else if (scale < 0 && value != 0) {
    digits += QString(-scale, QLatin1Char('0'));
  }
  if (negative && digits != QLatin1String("0")) digits.prepend(QLatin1Char('-'));
  return digits;
}

QString NumberTextToDecimal(const QString& text, int scale) {
  qint64 scaled = 0;
  if (DecimalToScaled(text, scale, scaled)) return ScaledToDecimal(scaled, scale);
  bool ok = false;
  const double d = text.trimmed().toDouble(&ok);
  if (!ok)
    throw ENompackError(QStringLiteral("'%1' is not a valid BCD value").arg(text),
                        ENompackError::Kind::Conversion);
  return Variant::FromDecimal(QString::number(d, 'f', scale)).ToDecimalText();
}

TDateParts SplitDateTime(TDateTime value) {
  const DateTimeConv::TimeStamp ts = DateTimeConv::ToTimeStamp(value);
  const QDate date = DateTimeConv::BaseDate().addDays(ts.Day);
  TDateParts p;
  p.Year = date.year();
  p.Month = date.month();
  p.Day = date.day();
  p.Hour = ts.MSec / 3600000;
  p.Minute = ts.MSec / 60000 % 60;
  p.Second = ts.MSec / 1000 % 60;
  p.MSec = ts.MSec % 1000;
  return p;
}

TDateTime JoinDateTime(const TDateParts& p) {
  const QDate date(p.Year, p.Month, p.Day);
  if (!date.isValid() || p.Hour < 0 || p.Hour > 23 || p.Minute < 0 || p.Minute > 59 ||
      p.Second < 0 || p.Second > 59 || p.MSec < 0 || p.MSec > 999) {
    throw ENompackError(QStringLiteral("%1-%2-%3 %4:%5:%6 is not a valid date and time")
                            .arg(p.Year)
                            .arg(p.Month)
                            .arg(p.Day)
                            .arg(p.Hour)
                            .arg(p.Minute)
                            .arg(p.Second),
                        ENompackError::Kind::Conversion);
  }
  const int msec = ((p.Hour * 60 + p.Minute) * 60 + p.Second) * 1000 + p.MSec;
  return DateTimeConv::FromTimeStamp({DateTimeConv::BaseDate().daysTo(date), msec});
}

TDateTime TimeFromMSecs(qint64 msecs) {
  return static_cast<double>(msecs) / DateTimeConv::kMSecsPerDay;
}

}  // namespace DbValues
