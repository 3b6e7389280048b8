#include "DataPacketValues.h"

#include <charconv>
#include <cmath>
#include <cstring>
#include <limits>
#include <string>

namespace DataPacketValues {

namespace {

inline bool IsDigit(char c) {
  return c >= '0' && c <= '9';
}

inline char* Write2(char* p, int v) {
  p[0] = static_cast<char>('0' + v / 10);
  p[1] = static_cast<char>('0' + v % 10);
  return p + 2;
}

}  // namespace

char* WriteInteger(char* p, qint64 value) {
  return std::to_chars(p, p + kMaxNumberText, value).ptr;
}

char* WriteDouble(char* p, double value) {
  if (std::isnan(value)) {
    std::memcpy(p, "NAN", 3);
    return p + 3;
  }
  if (std::isinf(value)) {
    if (value < 0) *p++ = '-';
    std::memcpy(p, "INF", 3);
    return p + 3;
  }
  if (value == 0) {  // also -0: "0" reads back as a value equal to it
    *p = '0';
    return p + 1;
  }
  const double magnitude = std::fabs(value);
  // Plain digits over the range where they stay short; integral values up to
  // 1e16 come out without fraction or exponent.
  if (magnitude >= 1e-5 && magnitude < 1e16)
    return std::to_chars(p, p + kMaxNumberText, value, std::chars_format::fixed).ptr;
  char* end = std::to_chars(p, p + kMaxNumberText, value, std::chars_format::scientific).ptr;
  // "1.5e-06" becomes "1.5E-6": no '+' and no leading zeros in the exponent.
  char* e = static_cast<char*>(std::memchr(p, 'e', end - p));
  if (!e) return end;
  *e = 'E';
  char* digits = e + 1;
  if (*digits == '-') ++digits;
  char* first = digits;
  if (*first == '+') ++first;
  while (first + 1 < end && *first == '0') ++first;
  std::memmove(digits, first, end - first);
  return digits + (end - first);
}

char* WriteDate(char* p, int year, int month, int day) {
  p = Write2(p, year / 100);
  p = Write2(p, year % 100);
  p = Write2(p, month);
  return Write2(p, day);
}

char* WriteTime(char* p, int msecOfDay) {
  const int ms = msecOfDay % 1000;
  const int secs = msecOfDay / 1000;
  p = Write2(p, secs / 3600);
  *p++ = ':';
  p = Write2(p, secs / 60 % 60);
  *p++ = ':';
  p = Write2(p, secs % 60);
  p[0] = static_cast<char>('0' + ms / 100);
  p[1] = static_cast<char>('0' + ms / 10 % 10);
  p[2] = static_cast<char>('0' + ms % 10);
  return p + 3;
}

bool ParseInteger(const char* p, qsizetype n, qint64& out) {
  qsizetype i = 0;
  bool negative = false;
  if (i < n && (p[i] == '-' || p[i] == '+')) negative = p[i++] == '-';
  if (i == n) return false;
  const quint64 limit = negative ? quint64(std::numeric_limits<qint64>::max()) + 1
                                 : quint64(std::numeric_limits<qint64>::max());
  quint64 value = 0;
  for (; i < n; ++i) {
    if (!IsDigit(p[i])) return false;
    const unsigned digit = static_cast<unsigned>(p[i] - '0');
    if (value > (limit - digit) / 10) return false;
    value = value * 10 + digit;
  }
  out = negative ? static_cast<qint64>(0 - value) : static_cast<qint64>(value);
  return true;
}

bool ParseDouble(const char* p, qsizetype n, double& out) {
  if (n > 0 && *p == '+') {
    ++p;
    --n;
  }
  if (n <= 0 || n > 400) return false;
  // Files from machines with a decimal comma do turn up.
  const char* comma = static_cast<const char*>(std::memchr(p, ',', n));
  if (comma) {
    if (std::memchr(p, '.', n)) return false;
    char buffer[401];
    std::memcpy(buffer, p, n);
    buffer[comma - p] = '.';
    const auto r = std::from_chars(buffer, buffer + n, out);
    return r.ec == std::errc() && r.ptr == buffer + n;
  }
  const auto r = std::from_chars(p, p + n, out);
  return r.ec == std::errc() && r.ptr == p + n;
}

bool ParseBoolean(const char* p, qsizetype n, bool& out) {
  if (n <= 0) return false;
  switch (*p) {
    case 'T':
    case 't':
    case '1':
      out = true;
      return true;
    case 'F':
    case 'f':
    case '0':
      out = false;
      return true;
    default:
      return false;
  }
}

bool ParseDecimal(const char* p, qsizetype n, QString& out) {
  qsizetype i = 0;
  bool negative = false;
  if (i < n && (p[i] == '-' || p[i] == '+')) negative = p[i++] == '-';
  std::string digits;
  digits.reserve(n);
  qsizetype pointAt = -1;
  for (; i < n; ++i) {
    if (IsDigit(p[i])) {
      digits.push_back(p[i]);
    } else if ((p[i] == '.' || p[i] == ',') && pointAt < 0) {
      pointAt = static_cast<qsizetype>(digits.size());
    } else {
      break;
    }
  }
  if (digits.empty()) return false;
  if (pointAt < 0) pointAt = static_cast<qsizetype>(digits.size());
  if (i < n) {
    if (p[i] != 'e' && p[i] != 'E') return false;
    qint64 exponent = 0;
    if (!ParseInteger(p + i + 1, n - i - 1, exponent) || exponent < -400 || exponent > 400)
      return false;
    pointAt += exponent;
  }
  const auto size = static_cast<qsizetype>(digits.size());
  std::string text;
  if (negative) text.push_back('-');
  if (pointAt <= 0) {
    text += "0.";
    text.append(static_cast<size_t>(-pointAt), '0');
    text += digits;
  } else if (pointAt >= size) {
    text += digits;
    text.append(static_cast<size_t>(pointAt - size), '0');
  } else {
    text.append(digits, 0, static_cast<size_t>(pointAt));
    text.push_back('.');
    text.append(digits, static_cast<size_t>(pointAt), std::string::npos);
  }
  out = QString::fromLatin1(text.data(), static_cast<qsizetype>(text.size()));
  return true;
}

namespace {

bool ParseDate(const char* p, qsizetype n, QDate& out) {
  char digits[8];
  int count = 0;
  for (qsizetype i = 0; i < n; ++i) {
    if (!IsDigit(p[i])) continue;
    if (count == 8) return false;
    digits[count++] = p[i];
  }
  if (count != 8) return false;
  auto number = [&](int from, int len) {
    int v = 0;
    for (int k = from; k < from + len; ++k) v = v * 10 + (digits[k] - '0');
    return v;
  };
  out = QDate(number(0, 4), number(4, 2), number(6, 2));
  return out.isValid() && out.year() >= 1;
}

// HH:MM:SSmmm; the seconds part may be short of its millisecond digits and
// may carry a '.' before them.
bool ParseTime(const char* p, qsizetype n, int& msecOfDay) {
  int parts[2] = {0, 0};
  qsizetype i = 0;
  for (int& part : parts) {
    int len = 0;
    for (; i < n && IsDigit(p[i]); ++i, ++len) part = part * 10 + (p[i] - '0');
    if (len == 0 || len > 2 || i >= n || p[i] != ':') return false;
    ++i;
  }
  char rest[5];
  int count = 0;
  for (; i < n; ++i) {
    if (IsDigit(p[i])) {
      if (count < 5) rest[count] = p[i];
      ++count;
    } else if (p[i] != '.' && p[i] != ',') {
      return false;
    }
  }
  if (count == 0) return false;
  int seconds = 0;
  int ms = 0;
  if (count <= 2) {
    for (int k = 0; k < count; ++k) seconds = seconds * 10 + (rest[k] - '0');
  } else {
    seconds = (rest[0] - '0') * 10 + (rest[1] - '0');
    for (int k = 2; k < 5; ++k) ms = ms * 10 + (k < count ? rest[k] - '0' : 0);
  }
  if (parts[0] > 23 || parts[1] > 59 || seconds > 59) return false;
  msecOfDay = ((parts[0] * 60 + parts[1]) * 60 + seconds) * 1000 + ms;
  return true;
}

}  // namespace

bool ParseDateTime(const char* p, qsizetype n, TDateTime& out) {
  const char* t = nullptr;
  for (qsizetype i = 0; i < n; ++i) {
    if (p[i] == 'T' || p[i] == 't') {
      t = p + i;
      break;
    }
  }
  QDate date = DateTimeConv::BaseDate();
  int msec = 0;
  if (t) {
    if (!ParseDate(p, t - p, date) || !ParseTime(t + 1, p + n - (t + 1), msec)) return false;
  } else if (std::memchr(p, ':', n)) {
    if (!ParseTime(p, n, msec)) return false;
  } else if (!ParseDate(p, n, date)) {
    return false;
  }
  out = DateTimeConv::Compose(date, QTime::fromMSecsSinceStartOfDay(msec));
  return true;
}

}  // namespace DataPacketValues
