#include "Variant.h"

#include <QLocale>
#include <cmath>
#include <limits>

#include "NompackError.h"

namespace {

bool ParseInt64(const QString& text, qint64& out) {
  bool ok = false;
  out = text.trimmed().toLongLong(&ok);
  return ok;
}

bool ParseDouble(const QString& text, double& out) {
  const QString t = text.trimmed();
  bool ok = false;
  out = QLocale::c().toDouble(t, &ok);
  if (!ok) out = QLocale::system().toDouble(t, &ok);
  return ok;
}

// Canonical decimal text: optional '-', digits without leading zeros, and a
// fraction without trailing zeros. Returns false for anything else.
bool NormaliseDecimal(const QString& text, QString& out) {
  const QString t = text.trimmed();
  int i = 0;
  bool negative = false;
  if (i < t.size() && (t[i] == QLatin1Char('-') || t[i] == QLatin1Char('+'))) {
    negative = t[i] == QLatin1Char('-');
    ++i;
  }
  // ASCII digits only: the text is written as it stands into chunk files
  // and bound as a number.
  auto isDigit = [&](qsizetype k) { return t[k] >= QLatin1Char('0') && t[k] <= QLatin1Char('9'); };
  QString whole, frac;
  for (; i < t.size() && isDigit(i); ++i) whole += t[i];
  if (i < t.size() && t[i] == QLatin1Char('.')) {
    ++i;
    for (; i < t.size() && isDigit(i); ++i) frac += t[i];
  }
  if (i != t.size() || (whole.isEmpty() && frac.isEmpty())) return false;
  while (whole.size() > 1 && whole[0] == QLatin1Char('0')) whole.remove(0, 1);
  if (whole.isEmpty()) whole = QStringLiteral("0");
  while (frac.endsWith(QLatin1Char('0'))) frac.chop(1);
  out = frac.isEmpty() ? whole : whole + QLatin1Char('.') + frac;
  if (negative && out != QLatin1String("0")) out.prepend(QLatin1Char('-'));
  return true;
}

QString DoubleText(double d) {
  return QString::number(d, 'g', QLocale::FloatingPointShortest);
}

}  // namespace

template <typename T>
Variant Variant::Make(Type type, const T& value) {
  Variant v;
  v.FType = type;
  v.FData = value;
  return v;
}

Variant Variant::Null() {
  Variant v;
  v.FType = Type::Null;
  return v;
}

Variant Variant::FromString(const QString& value) {
  return Make(Type::String, value);
}

Variant Variant::FromInt(qint64 value, Type type) {
  return Make(type, value);
}

Variant Variant::FromUInt(quint64 value, Type type) {
  return Make(type, value);
}

Variant Variant::FromDouble(double value, Type type) {
  return Make(type, value);
}

Variant Variant::FromCurrency(Currency value) {
  return Make(Type::Currency, value);
}

Variant Variant::FromDecimal(const QString& text) {
  QString normal;
  if (!NormaliseDecimal(text, normal)) {
    throw ENompackError(QStringLiteral("'%1' is not a valid BCD value").arg(text),
                        ENompackError::Kind::Conversion);
  }
  return Make(Type::Decimal, normal);
}

Variant Variant::FromDateTime(TDateTime value) {
  return Make(Type::DateTime, value);
}

Variant Variant::FromBool(bool value) {
  return Make(Type::Boolean, value);
}

Variant Variant::FromBytes(const QByteArray& value) {
  return Make(Type::Bytes, value);
}

bool Variant::IsInteger() const {
  switch (FType) {
    case Type::Int8:
    case Type::Int16:
    case Type::Int32:
    case Type::Int64:
    case Type::UInt8:
    case Type::UInt16:
    case Type::UInt32:
    case Type::UInt64:
      return true;
    default:
      return false;
  }
}

bool Variant::IsFloat() const {
  return FType == Type::Single || FType == Type::Double || FType == Type::Currency ||
         FType == Type::Decimal;
}

void Variant::FailConversion(const char* target) const {
  throw ENompackError(QStringLiteral("Could not convert variant of type (%1) into type (%2)")
                          .arg(TypeName(FType), QString::fromLatin1(target)),
                      ENompackError::Kind::Conversion);
}

const QString& Variant::StringRef() const {
  static const QString empty;
  if (const auto* s = std::get_if<QString>(&FData)) return *s;
  return empty;
}

const QByteArray& Variant::BytesRef() const {
  static const QByteArray empty;
  if (const auto* b = std::get_if<QByteArray>(&FData)) return *b;
  return empty;
}

QString Variant::ToString() const {
  switch (FType) {
    case Type::Empty:
    case Type::Null:
      return QString();
    case Type::String:
    case Type::Decimal:
      return std::get<QString>(FData);
    case Type::Int8:
    case Type::Int16:
    case Type::Int32:
    case Type::Int64:
      return QString::number(std::get<qint64>(FData));
    case Type::UInt8:
    case Type::UInt16:
    case Type::UInt32:
    case Type::UInt64:
      return QString::number(std::get<quint64>(FData));
    case Type::Single:
    case Type::Double:
      return DoubleText(std::get<double>(FData));
    case Type::Currency:
      return std::get<Currency>(FData).ToString();
    case Type::DateTime: {
      const QDateTime dt = DateTimeConv::ToQDateTime(std::get<double>(FData));
      if (dt.time() == QTime(0, 0)) return dt.date().toString(QStringLiteral("dd.MM.yyyy"));
      if (dt.time().msec() != 0) return dt.toString(QStringLiteral("dd.MM.yyyy HH:mm:ss.zzz"));
      return dt.toString(QStringLiteral("dd.MM.yyyy HH:mm:ss"));
    }
    case Type::Boolean:
      return std::get<bool>(FData) ? QStringLiteral("True") : QStringLiteral("False");
    case Type::Bytes:
      return QString::fromLatin1(std::get<QByteArray>(FData).toHex());
  }
  return QString();
}

qint64 Variant::ToInt64() const {
  switch (FType) {
    case Type::Empty:
      return 0;
    case Type::Int8:
    case Type::Int16:
    case Type::Int32:
    case Type::Int64:
      return std::get<qint64>(FData);
    case Type::UInt8:
    case Type::UInt16:
    case Type::UInt32:
    case Type::UInt64: {
      const quint64 u = std::get<quint64>(FData);
      if (u > static_cast<quint64>(std::numeric_limits<qint64>::max())) FailConversion("Int64");
      return static_cast<qint64>(u);
    }
    case Type::Boolean:
      return std::get<bool>(FData) ? -1 : 0;
    case Type::Currency: {
      const qint64 raw = std::get<Currency>(FData).Value;
      // Half away from zero, as the currency rounding does.
      const qint64 whole = raw / Currency::kScale;
      const qint64 rest = raw % Currency::kScale;
      if (rest >= Currency::kScale / 2) return whole + 1;
      if (rest <= -Currency::kScale / 2) return whole - 1;
      return whole;
    }
    case Type::String: {
      qint64 n = 0;
      if (ParseInt64(std::get<QString>(FData), n)) return n;
      double d = 0;
      if (ParseDouble(std::get<QString>(FData), d) && std::isfinite(d) && std::fabs(d) < 9.2e18)
        return static_cast<qint64>(std::nearbyint(d));
      FailConversion("Int64");
    }
    case Type::Decimal: {
      const QString& s = std::get<QString>(FData);
      qint64 n = 0;
      if (ParseInt64(s, n)) return n;
      const double d = ToDouble();
      if (std::isfinite(d) && std::fabs(d) < 9.2e18) return static_cast<qint64>(std::nearbyint(d));
      FailConversion("Int64");
    }
    case Type::Single:
    case Type::Double:
    case Type::DateTime: {
      const double d = std::get<double>(FData);
      if (!std::isfinite(d) || std::fabs(d) >= 9.2e18) FailConversion("Int64");
      return static_cast<qint64>(std::nearbyint(d));
    }
    case Type::Null:
    case Type::Bytes:
      break;
  }
  FailConversion("Int64");
}

qint32 Variant::ToInt32() const {
  const qint64 n = ToInt64();
  if (n < std::numeric_limits<qint32>::min() || n > std::numeric_limits<qint32>::max())
    FailConversion("Integer");
  return static_cast<qint32>(n);
}

double Variant::ToDouble() const {
  switch (FType) {
    case Type::Empty:
      return 0;
    case Type::Int8:
    case Type::Int16:
    case Type::Int32:
    case Type::Int64:
      return static_cast<double>(std::get<qint64>(FData));
    case Type::UInt8:
    case Type::UInt16:
    case Type::UInt32:
    case Type::UInt64:
      return static_cast<double>(std::get<quint64>(FData));
    case Type::Single:
    case Type::Double:
    case Type::DateTime:
      return std::get<double>(FData);
    case Type::Currency:
      return std::get<Currency>(FData).ToDouble();
    case Type::Boolean:
      return std::get<bool>(FData) ? -1 : 0;
    case Type::String:
    case Type::Decimal: {
      double d = 0;
      if (ParseDouble(std::get<QString>(FData), d)) return d;
      break;
    }
    case Type::Null:
    case Type::Bytes:
      break;
  }
  FailConversion("Double");
}

Currency Variant::ToCurrency() const {
  switch (FType) {
    case Type::Currency:
      return std::get<Currency>(FData);
    case Type::Int8:
    case Type::Int16:
    case Type::Int32:
    case Type::Int64: {
      const qint64 n = std::get<qint64>(FData);
      if (n > std::numeric_limits<qint64>::max() / Currency::kScale ||
          n < std::numeric_limits<qint64>::min() / Currency::kScale)
        FailConversion("Currency");
      return Currency{n * Currency::kScale};
    }
    case Type::String:
    case Type::Decimal:
      try {
        return Currency::FromString(std::get<QString>(FData));
      } catch (const ENompackError&) {
        FailConversion("Currency");
      }
    default:
      try {
        return Currency::FromDouble(ToDouble());
      } catch (const ENompackError&) {
        FailConversion("Currency");
      }
  }
}

bool Variant::ToBool() const {
  switch (FType) {
    case Type::Empty:
      return false;
    case Type::Boolean:
      return std::get<bool>(FData);
    case Type::String: {
      const QString t = std::get<QString>(FData).trimmed();
      if (t.compare(QLatin1String("true"), Qt::CaseInsensitive) == 0) return true;
      if (t.compare(QLatin1String("false"), Qt::CaseInsensitive) == 0) return false;
      double d = 0;
      if (ParseDouble(t, d)) return d != 0;
      break;
    }
    case Type::Null:
    case Type::Bytes:
      break;
    default:
      return ToDouble() != 0;
  }
  FailConversion("Boolean");
}

TDateTime Variant::ToDateTime() const {
  switch (FType) {
    case Type::Empty:
      return 0;
    case Type::DateTime:
      return std::get<double>(FData);
    case Type::String: {
      const QString t = std::get<QString>(FData).trimmed();
      for (const char* format :
           {"yyyy-MM-dd HH:mm:ss.zzz", "yyyy-MM-ddTHH:mm:ss.zzz", "yyyy-MM-dd HH:mm:ss",
            "yyyy-MM-ddTHH:mm:ss", "dd.MM.yyyy HH:mm:ss", "dd.MM.yyyy"}) {
        const QDateTime dt = QDateTime::fromString(t, QString::fromLatin1(format));
        if (dt.isValid()) return DateTimeConv::FromQDateTime(dt);
      }
      const QDate d = QDate::fromString(t, Qt::ISODate);
      if (d.isValid()) return DateTimeConv::FromDate(d);
      break;
    }
    case Type::Null:
    case Type::Bytes:
    case Type::Boolean:
      break;
    default:
      return ToDouble();
  }
  FailConversion("Date");
}

QByteArray Variant::ToBytes() const {
  switch (FType) {
    case Type::Empty:
      return QByteArray();
    case Type::Bytes:
      return std::get<QByteArray>(FData);
    case Type::String:
      return std::get<QString>(FData).toUtf8();
    default:
      break;
  }
  FailConversion("Bytes");
}

QString Variant::ToDecimalText() const {
  switch (FType) {
    case Type::Decimal:
      return std::get<QString>(FData);
    case Type::Currency:
      return std::get<Currency>(FData).ToString();
    case Type::String: {
      QString normal;
      if (NormaliseDecimal(std::get<QString>(FData), normal)) return normal;
      double d = 0;
      if (ParseDouble(std::get<QString>(FData), d) && std::isfinite(d))
        return QString::number(d, 'f', QLocale::FloatingPointShortest);
      break;
    }
    case Type::Single:
    case Type::Double: {
      const double d = std::get<double>(FData);
      if (!std::isfinite(d)) break;
      QString normal;
      NormaliseDecimal(QString::number(d, 'f', QLocale::FloatingPointShortest), normal);
      return normal;
    }
    case Type::Null:
    case Type::Bytes:
    case Type::DateTime:
      break;
    default:
      return QString::number(ToInt64());
  }
  FailConversion("BCD");
}

bool Variant::operator==(const Variant& other) const {
  return FType == other.FType && FData == other.FData;
}

QString Variant::TypeName(Type type) {
  switch (type) {
    case Type::Empty:
      return QStringLiteral("Empty");
    case Type::Null:
      return QStringLiteral("Null");
    case Type::String:
      return QStringLiteral("String");
    case Type::Int8:
      return QStringLiteral("ShortInt");
    case Type::Int16:
      return QStringLiteral("SmallInt");
    case Type::Int32:
      return QStringLiteral("Integer");
    case Type::Int64:
      return QStringLiteral("Int64");
    case Type::UInt8:
      return QStringLiteral("Byte");
    case Type::UInt16:
      return QStringLiteral("Word");
    case Type::UInt32:
      return QStringLiteral("LongWord");
    case Type::UInt64:
      return QStringLiteral("UInt64");
    case Type::Single:
      return QStringLiteral("Single");
    case Type::Double:
      return QStringLiteral("Double");
    case Type::Currency:
      return QStringLiteral("Currency");
    case Type::Decimal:
      return QStringLiteral("FMTBcd");
    case Type::DateTime:
      return QStringLiteral("Date");
    case Type::Boolean:
      return QStringLiteral("Boolean");
    case Type::Bytes:
      return QStringLiteral("Array Byte");
  }
  return QString();
}
