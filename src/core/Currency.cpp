#include "Currency.h"

#include <cmath>
#include <limits>

#include "NompackError.h"

Currency Currency::FromDouble(double value) {
  const long double scaled = static_cast<long double>(value) * kScale;
  const long double rounded = std::round(scaled);
  if (!std::isfinite(value) || rounded >= 9223372036854775807.0L ||
      rounded < -9223372036854775808.0L) {
    throw ENompackError(QStringLiteral("%1 is not a valid currency value").arg(value),
                        ENompackError::Kind::Conversion);
  }
  return Currency{static_cast<qint64>(rounded)};
}

Currency Currency::FromString(const QString& text) {
  const QString t = text.trimmed();
  auto fail = [&]() -> Currency {
    throw ENompackError(QStringLiteral("'%1' is not a valid currency value").arg(text),
                        ENompackError::Kind::Conversion);
  };
  if (t.isEmpty()) return fail();
  int i = 0;
  bool negative = false;
  if (t[0] == QLatin1Char('-') || t[0] == QLatin1Char('+')) {
    negative = t[0] == QLatin1Char('-');
    ++i;
  }
  unsigned __int128 whole = 0;
  int digits = 0;
  for (; i < t.size() && t[i].isDigit(); ++i, ++digits) {
    whole = whole * 10 + static_cast<unsigned>(t[i].digitValue());
    if (whole > (unsigned __int128)std::numeric_limits<qint64>::max()) return fail();
  }
  int frac = 0;
  int fracDigits = 0;
  bool roundUp = false;
  if (i < t.size() && (t[i] == QLatin1Char('.') || t[i] == QLatin1Char(','))) {
    ++i;
    for (; i < t.size() && t[i].isDigit(); ++i, ++digits) {
      if (fracDigits < 4) {
        frac = frac * 10 + t[i].digitValue();
        ++fracDigits;
      } else if (fracDigits == 4) {
        roundUp = t[i].digitValue() >= 5;
        ++fracDigits;
      }
    }
  }
  if (i != t.size() || digits == 0) return fail();
  for (int k = std::min(fracDigits, 4); k < 4; ++k) frac *= 10;
  unsigned __int128 raw = whole * kScale + static_cast<unsigned>(frac) + (roundUp ? 1 : 0);
  const unsigned __int128 limit = negative
                                      ? (unsigned __int128)std::numeric_limits<qint64>::max() + 1
                                      : (unsigned __int128)std::numeric_limits<qint64>::max();
  if (raw > limit) return fail();
  if (negative) return Currency{static_cast<qint64>(-static_cast<__int128>(raw))};
  return Currency{static_cast<qint64>(raw)};
}

QString Currency::ToString() const {
  const bool negative = Value < 0;
  const unsigned long long magnitude = negative ? 0ULL - static_cast<unsigned long long>(Value)
                                                : static_cast<unsigned long long>(Value);
  QString result = QString::number(magnitude / kScale);
  unsigned long long frac = magnitude % kScale;
  if (frac != 0) {
    QString f = QString::number(frac).rightJustified(4, QLatin1Char('0'));
    while (f.endsWith(QLatin1Char('0'))) f.chop(1);
    result += QLatin1Char('.') + f;
  }
  return negative ? QLatin1Char('-') + result : result;
}
