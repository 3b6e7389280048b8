#include "MySQLValues.h"

#include <charconv>
#include <limits>

#include "Cp1251.h"
#include "DbValues.h"
#include "NompackError.h"

namespace MySQLValues {
namespace {

[[noreturn]] void FailValue(const TMySQLColumn& column, const QString& why) {
  throw ENompackError(QStringLiteral("Column %1: %2").arg(column.Def.Name, why),
                      ENompackError::Kind::Conversion);
}

// Reads an unsigned decimal number of any width at `p`, advancing it.
bool ReadNumber(const char*& p, const char* end, int& out) {
  const char* start = p;
  int v = 0;
  while (p < end && *p >= '0' && *p <= '9') v = v * 10 + (*p++ - '0');
  out = v;
  return p > start;
}

// Fractional seconds "ffffff" as milliseconds, rounded down.
int ReadMSec(const char*& p, const char* end) {
  if (p >= end || *p != '.') return 0;
  ++p;
  int ms = 0, digits = 0;
  while (p < end && *p >= '0' && *p <= '9') {
    if (digits < 3) ms = ms * 10 + (*p - '0');
    ++digits;
    ++p;
  }
  for (; digits < 3; ++digits) ms *= 10;
  return ms;
}

Variant DateTimeValue(const TMySQLColumn& column, const DbValues::TDateParts& parts) {
  // The zero date has no calendar day; it reads as no value.
  if (parts.Year == 0 && parts.Month == 0 && parts.Day == 0) return Variant::Null();
  try {
    return Variant::FromDateTime(DbValues::JoinDateTime(parts));
  } catch (const ENompackError& e) {
    FailValue(column, e.Message());
  }
}

Variant TextDateTime(const TMySQLColumn& column, const char* p, const char* end) {
  DbValues::TDateParts parts;
  const char* start = p;
  bool ok = ReadNumber(p, end, parts.Year) && p < end && *p++ == '-' &&
            ReadNumber(p, end, parts.Month) && p < end && *p++ == '-' &&
            ReadNumber(p, end, parts.Day);
  if (ok && p < end) {
    ok = (*p == ' ' || *p == 'T') && ++p && ReadNumber(p, end, parts.Hour) && p < end &&
         *p++ == ':' && ReadNumber(p, end, parts.Minute) && p < end && *p++ == ':' &&
         ReadNumber(p, end, parts.Second);
    if (ok) parts.MSec = ReadMSec(p, end);
  }
  if (!ok || p != end)
    FailValue(column,
              QStringLiteral("'%1' is no date").arg(QString::fromLatin1(start, end - start)));
  if (column.Def.DataType == ftDate) parts.Hour = parts.Minute = parts.Second = parts.MSec = 0;
  return DateTimeValue(column, parts);
}

// TIME is a duration: it may be negative and pass 24 hours.
Variant TextTime(const TMySQLColumn& column, const char* p, const char* end) {
  const char* start = p;
  const bool negative = p < end && *p == '-';
  if (negative) ++p;
  int h = 0, m = 0, s = 0;
  const bool ok = ReadNumber(p, end, h) && p < end && *p++ == ':' && ReadNumber(p, end, m) &&
                  p < end && *p++ == ':' && ReadNumber(p, end, s);
  const int ms = ok ? ReadMSec(p, end) : 0;
  if (!ok || p != end)
    FailValue(column,
              QStringLiteral("'%1' is no time").arg(QString::fromLatin1(start, end - start)));
  const qint64 total = ((qint64(h) * 60 + m) * 60 + s) * 1000 + ms;
  return Variant::FromDateTime(DbValues::TimeFromMSecs(negative ? -total : total));
}

}  // namespace

Variant FromInt(const TMySQLColumn& column, qint64 value, bool isUnsigned) {
  if (isUnsigned && value < 0)
    FailValue(column, QStringLiteral("%1 does not fit in 64 bits").arg(quint64(value)));
  switch (column.Def.DataType) {
    case ftSmallint:
      return Variant::FromInt(value, Variant::Type::Int16);
    case ftInteger:
      return Variant::FromInt(value, Variant::Type::Int32);
    case ftWord:
      return Variant::FromUInt(static_cast<quint64>(value), Variant::Type::UInt16);
    case ftBoolean:
      return Variant::FromBool(value != 0);
    default:
      return Variant::FromInt64(value);
  }
}

Variant FromText(const TMySQLColumn& column, const char* data, unsigned long length) {
  const char* end = data + length;
  switch (column.Read) {
    case TMySQLRead::Int:
    case TMySQLRead::UInt: {
      if (column.Read == TMySQLRead::UInt) {
        quint64 u = 0;
        const auto r = std::from_chars(data, end, u);
        if (r.ec != std::errc() || r.ptr != end) break;
        return FromInt(column, static_cast<qint64>(u), true);
      }
      qint64 v = 0;
      const auto r = std::from_chars(data, end, v);
      if (r.ec != std::errc() || r.ptr != end) break;
      return FromInt(column, v, false);
    }
    case TMySQLRead::Double: {
      double d = 0;
      const auto r = std::from_chars(data, end, d);
      if (r.ec != std::errc() || r.ptr != end) break;
      return Variant::FromDouble(d);
    }
    case TMySQLRead::Decimal:
      try {
        return Variant::FromDecimal(QString::fromLatin1(data, static_cast<qsizetype>(length)));
      } catch (const ENompackError& e) {
        FailValue(column, e.Message());
      }
    case TMySQLRead::Date:
    case TMySQLRead::DateTime:
      return TextDateTime(column, data, end);
    case TMySQLRead::Time:
      return TextTime(column, data, end);
    case TMySQLRead::Text:
      return Variant::FromString(Cp1251::Decode(data, static_cast<qsizetype>(length)));
    case TMySQLRead::Bytes:
      return Variant::FromBytes(QByteArray(data, static_cast<qsizetype>(length)));
    case TMySQLRead::Bit: {
      // BIT values arrive as big-endian bytes in both protocols.
      if (length > 8) break;
      quint64 v = 0;
      for (unsigned long i = 0; i < length; ++i) v = (v << 8) | static_cast<unsigned char>(data[i]);
      return FromInt(column, static_cast<qint64>(v), true);
    }
  }
  FailValue(column, QStringLiteral("'%1' cannot be read as %2")
                        .arg(QString::fromLatin1(data, static_cast<qsizetype>(length)),
                             FieldTypeName(column.Def.DataType)));
}

Variant FromTime(const TMySQLColumn& column, const MYSQL_TIME& t) {
  if (column.Read == TMySQLRead::Time) {
    const qint64 total = ((qint64(t.day) * 24 + t.hour) * 60 + t.minute) * 60000 +
                         qint64(t.second) * 1000 + t.second_part / 1000;
    return Variant::FromDateTime(DbValues::TimeFromMSecs(t.neg ? -total : total));
  }
  DbValues::TDateParts parts;
  parts.Year = static_cast<int>(t.year);
  parts.Month = static_cast<int>(t.month);
  parts.Day = static_cast<int>(t.day);
  if (column.Def.DataType != ftDate) {
    parts.Hour = static_cast<int>(t.hour);
    parts.Minute = static_cast<int>(t.minute);
    parts.Second = static_cast<int>(t.second);
    parts.MSec = static_cast<int>(t.second_part / 1000);
  }
  return DateTimeValue(column, parts);
}

MYSQL_TIME ToTime(TDateTime value, enum_field_types type) {
  MYSQL_TIME t{};
  if (type == MYSQL_TYPE_TIME) {
    // The time of day only; a whole day count would make it a duration.
    const DateTimeConv::TimeStamp ts = DateTimeConv::ToTimeStamp(value);
    t.hour = static_cast<unsigned>(ts.MSec / 3600000);
    t.minute = static_cast<unsigned>(ts.MSec / 60000 % 60);
    t.second = static_cast<unsigned>(ts.MSec / 1000 % 60);
    t.second_part = static_cast<unsigned long>(ts.MSec % 1000) * 1000;
    t.time_type = MYSQL_TIMESTAMP_TIME;
    return t;
  }
  const DbValues::TDateParts p = DbValues::SplitDateTime(value);
  t.year = static_cast<unsigned>(p.Year);
  t.month = static_cast<unsigned>(p.Month);
  t.day = static_cast<unsigned>(p.Day);
  if (type == MYSQL_TYPE_DATE) {
    t.time_type = MYSQL_TIMESTAMP_DATE;
    return t;
  }
  t.hour = static_cast<unsigned>(p.Hour);
  t.minute = static_cast<unsigned>(p.Minute);
  t.second = static_cast<unsigned>(p.Second);
  t.second_part = static_cast<unsigned long>(p.MSec) * 1000;
  t.time_type = MYSQL_TIMESTAMP_DATETIME;
  return t;
}

}  // namespace MySQLValues
