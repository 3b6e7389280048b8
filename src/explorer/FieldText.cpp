#include "FieldText.h"

#include <QDateTime>
#include <QLocale>
#include <cmath>
#include <limits>

#include "DataPacketTypes.h"
#include "DateTime.h"
#include "NompackError.h"

namespace FieldText {

namespace {

using Kind = TPacketValueKind;

// The packet's classification of the field types; text spelled one way or
// another in the file is all one text to the grid.
Kind KindOf(TFieldType type) {
  const Kind kind = DataPacketTypes::ValueKind(type);
  return kind == Kind::WideText || kind == Kind::EncodedText ? Kind::Text : kind;
}

[[noreturn]] void Fail(const QString& message) {
  throw ENompackError(message, ENompackError::Kind::Conversion);
}

QLocale NumberLocale() {
  QLocale locale;
  locale.setNumberOptions(QLocale::OmitGroupSeparator);
  return locale;
}

QString FloatText(double d) {
  if (!std::isfinite(d)) return QString::number(d);
  const QLocale locale = NumberLocale();
  // Fixed notation for the magnitudes prices and quantities have; the
  // shortest digits that read back to the same double either way.
  const double a = std::fabs(d);
  if (a == 0 || (a >= 1e-6 && a < 1e16))
    return locale.toString(d, 'f', QLocale::FloatingPointShortest);
  return locale.toString(d, 'g', QLocale::FloatingPointShortest);
}

// The decimal text with the locale's separator in place of '.'.
QString BcdText(const Variant& value) {
  QString text = value.ToDecimalText();
  const QString point = QLocale().decimalPoint();
  if (point != QLatin1String(".")) text.replace(QLatin1Char('.'), point);
  return text;
}

const QString kDateFormat = QStringLiteral("dd.MM.yyyy");

QString TimeFormat(const QTime& time) {
  return time.msec() != 0 ? QStringLiteral("HH:mm:ss.zzz") : QStringLiteral("HH:mm:ss");
}

QString DateTimeText(const Variant& value, Kind kind) {
  const TDateTime d = value.ToDateTime();
  if (!std::isfinite(d)) return QString::number(d);
  const QDateTime dt = DateTimeConv::ToQDateTime(d);
  switch (kind) {
    case Kind::Date:
      return dt.date().toString(kDateFormat);
    case Kind::Time:
      return dt.time().toString(TimeFormat(dt.time()));
    default:
      return dt.date().toString(kDateFormat) + QLatin1Char(' ') +
             dt.time().toString(TimeFormat(dt.time()));
  }
}

QString ValueText(const Variant& value, const TFieldDef& def) {
  if (value.IsNullOrEmpty()) return QString();
  switch (KindOf(def.DataType)) {
    case Kind::Boolean:
      return value.ToBool() ? QStringLiteral("True") : QStringLiteral("False");
    case Kind::Float:
      return FloatText(value.ToDouble());
    case Kind::Bcd:
      return BcdText(value);
    case Kind::Date:
    case Kind::Time:
    case Kind::DateTime:
      return DateTimeText(value, KindOf(def.DataType));
    case Kind::Binary:
      return QString::fromLatin1(value.ToBytes().toHex()).toUpper();
    default:
      return value.ToString();
  }
}

QDate ParseDate(const QString& text) {
  for (const QString& format :
       {QStringLiteral("dd.MM.yyyy"), QStringLiteral("d.M.yyyy"), QStringLiteral("yyyy-MM-dd")}) {
    const QDate date = QDate::fromString(text, format);
    if (date.isValid()) return date;
  }
  return QDate();
}

QTime ParseTime(const QString& text) {
  for (const QString& format :
       {QStringLiteral("HH:mm:ss.zzz"), QStringLiteral("HH:mm:ss"), QStringLiteral("H:m:s.zzz"),
        QStringLiteral("H:m:s"), QStringLiteral("HH:mm"), QStringLiteral("H:m")}) {
    const QTime time = QTime::fromString(text, format);
    if (time.isValid()) return time;
  }
  return QTime();
}

Variant ParseDateTime(const QString& text, Kind kind) {
  const QString t = text.simplified();
  if (kind == Kind::Time) {
    const QTime time = ParseTime(t);
    if (!time.isValid()) Fail(QStringLiteral("'%1' is not a valid time").arg(text));
    return Variant::FromDateTime(DateTimeConv::FromTime(time));
  }
  const qsizetype blank = t.indexOf(QLatin1Char(' '));
  const QDate date = ParseDate(blank < 0 ? t : t.left(blank));
  QTime time(0, 0);
  if (blank >= 0) time = ParseTime(t.mid(blank + 1));
  if (!date.isValid() || !time.isValid()) {
    Fail(kind == Kind::Date ? QStringLiteral("'%1' is not a valid date").arg(text)
                            : QStringLiteral("'%1' is not a valid date and time").arg(text));
  }
  return Variant::FromDateTime(DateTimeConv::Compose(date, time));
}

Variant ParseInteger(const QString& text, const TFieldDef& def) {
  bool ok = false;
  const qint64 value = text.trimmed().toLongLong(&ok);
  if (!ok) Fail(QStringLiteral("'%1' is not a valid integer value").arg(text));
  qint64 low = std::numeric_limits<qint32>::min(), high = std::numeric_limits<qint32>::max();
  Variant::Type type = Variant::Type::Int32;
  if (def.DataType == ftSmallint) {
    low = -32768, high = 32767, type = Variant::Type::Int16;
  } else if (def.DataType == ftWord) {
    low = 0, high = 65535;
  } else if (def.DataType == ftLargeint) {
    return Variant::FromInt64(value);
  }
  if (value < low || value > high) {
    Fail(QStringLiteral("%1 is not a valid value for field '%2'. The allowed range is %3 to %4")
             .arg(value)
             .arg(def.Name)
             .arg(low)
             .arg(high));
  }
  if (def.DataType == ftWord)
    return Variant::FromUInt(static_cast<quint64>(value), Variant::Type::UInt16);
  return Variant::FromInt(value, type);
}

Variant ParseBoolean(const QString& text) {
  const QString t = text.trimmed();
  if (t.compare(QLatin1String("True"), Qt::CaseInsensitive) == 0) return Variant::FromBool(true);
  if (t.compare(QLatin1String("False"), Qt::CaseInsensitive) == 0) return Variant::FromBool(false);
  bool ok = false;
  const double number = t.toDouble(&ok);
  if (!ok) Fail(QStringLiteral("'%1' is not a valid boolean value").arg(text));
  return Variant::FromBool(number != 0);
}

Variant ParseFloat(const QString& text) {
  const QString t = text.trimmed();
  bool ok = false;
  double value = NumberLocale().toDouble(t, &ok);
  if (!ok) value = QLocale::c().toDouble(t, &ok);
  if (!ok || !std::isfinite(value))
    Fail(QStringLiteral("'%1' is not a valid floating point value").arg(text));
  return Variant::FromDouble(value);
}

Variant ParseBcd(const QString& text) {
  QString t = text.trimmed();
  const QString point = QLocale().decimalPoint();
  if (point != QLatin1String(".")) t.replace(point, QStringLiteral("."));
  try {
    return Variant::FromDecimal(t);
  } catch (const ENompackError&) {
    Fail(QStringLiteral("'%1' is not a valid BCD value").arg(text));
  }
}

Variant ParseBinary(const QString& text) {
  QString digits = text;
  digits.remove(QLatin1Char(' '));
  bool valid = digits.size() % 2 == 0;
  for (const QChar c : digits) {
    if (!valid) break;
    valid = c.isDigit() || (c.toLower() >= QLatin1Char('a') && c.toLower() <= QLatin1Char('f'));
  }
  if (!valid) Fail(QStringLiteral("'%1' is not a valid hexadecimal value").arg(text));
  return Variant::FromBytes(QByteArray::fromHex(digits.toLatin1()));
}

}  // namespace

QString DisplayText(const Variant& value, const TFieldDef& def) {
  QString text;
  try {
    text = ValueText(value, def);
  } catch (const ENompackError&) {
    // A value the reader kept in another type than its field's: show it as
    // it is rather than not at all.
    text = value.ToString();
  }
  constexpr int kShownHexDigits = 64;
  if (KindOf(def.DataType) == Kind::Binary && text.size() > kShownHexDigits)
    text = text.left(kShownHexDigits) + QChar(0x2026);
  return text;
}

QString EditText(const Variant& value, const TFieldDef& def) {
  try {
    return ValueText(value, def);
  } catch (const ENompackError&) {
    return value.ToString();
  }
}

Variant Parse(const QString& text, const TFieldDef& def) {
  const Kind kind = KindOf(def.DataType);
  if (kind == Kind::Text) return Variant::FromString(text);
  if (text.trimmed().isEmpty()) return Variant::Null();
  switch (kind) {
    case Kind::Integer:
      return ParseInteger(text, def);
    case Kind::Boolean:
      return ParseBoolean(text);
    case Kind::Float:
      return ParseFloat(text);
    case Kind::Bcd:
      return ParseBcd(text);
    case Kind::Date:
    case Kind::Time:
    case Kind::DateTime:
      return ParseDateTime(text, kind);
    case Kind::Binary:
      return ParseBinary(text);
    default:
      return Variant::FromString(text);
  }
}

bool IsNumericField(const TFieldDef& def) {
  const Kind kind = KindOf(def.DataType);
  return kind == Kind::Integer || kind == Kind::Float || kind == Kind::Bcd;
}

bool IsMultiLineField(const TFieldDef& def) {
  return def.DataType == ftMemo || def.DataType == ftFmtMemo || def.DataType == ftOraClob;
}

}  // namespace FieldText
