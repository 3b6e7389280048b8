#pragma once

#include <QString>
#include <QtGlobal>

// Fixed-point money: a signed 64-bit count of ten-thousandths.
struct Currency {
  qint64 Value = 0;  // units of 0.0001

  static constexpr qint64 kScale = 10000;

  static Currency FromRaw(qint64 raw) { return Currency{raw}; }
  // Rounds to the nearest ten-thousandth, halves away from zero. Throws
  // ENompackError (Conversion) when the value does not fit.
  static Currency FromDouble(double value);
  // Parses an optional sign, digits, an optional '.' and digits; more than four
  // decimals are rounded half away from zero. Throws ENompackError (Conversion).
  static Currency FromString(const QString& text);

  double ToDouble() const { return static_cast<double>(Value) / kScale; }
  // Plain decimal text with '.', no trailing zeros: 1.5, -0.0001, 12.
  QString ToString() const;

  auto operator<=>(const Currency&) const = default;
};
