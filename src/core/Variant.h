#pragma once

#include <QByteArray>
#include <QString>
#include <variant>

#include "Currency.h"
#include "DateTime.h"

// A tagged value: row values, edit values and bound property values.
// Null (no value) and Empty (never assigned) are distinct.
class Variant {
 public:
  enum class Type {
    Empty,
    Null,
    String,
    Int8,
    Int16,
    Int32,
    Int64,
    UInt8,
    UInt16,
    UInt32,
    UInt64,
    Single,
    Double,
    Currency,
    Decimal,  // exact decimal text ("-12.50"): BCD values of any length
    DateTime,
    Boolean,
    Bytes,
  };

  Variant() = default;  // Empty

  static Variant Null();
  static Variant FromString(const QString& value);
  static Variant FromInt(qint64 value, Type type = Type::Int32);
  static Variant FromUInt(quint64 value, Type type = Type::UInt32);
  static Variant FromInt64(qint64 value) { return FromInt(value, Type::Int64); }
  static Variant FromDouble(double value, Type type = Type::Double);
  static Variant FromCurrency(Currency value);
  // Normalises the text (sign, digits, '.', digits); throws ENompackError
  // (Conversion) when it is no plain decimal number.
  static Variant FromDecimal(const QString& text);
  static Variant FromDateTime(TDateTime value);
  static Variant FromBool(bool value);
  static Variant FromBytes(const QByteArray& value);

  Type VarType() const { return FType; }
  bool IsNull() const { return FType == Type::Null; }
  bool IsEmpty() const { return FType == Type::Empty; }
  bool IsNullOrEmpty() const { return IsNull() || IsEmpty(); }
  bool IsInteger() const;  // any of the signed or unsigned integer types
  bool IsFloat() const;    // Single, Double, Currency, Decimal

  // Conversions in the manner of the ordinary variant conversion: numbers
  // from numbers and from number texts, Booleans from numbers and the words
  // True/False. Empty converts to 0 / "" / False; Null fails, as does text
  // that is no number. Failures throw ENompackError (Conversion).
  QString ToString() const;  // Null and Empty give ""
  qint64 ToInt64() const;
  qint32 ToInt32() const;  // fails outside the 32-bit range
  double ToDouble() const;
  Currency ToCurrency() const;
  bool ToBool() const;
  TDateTime ToDateTime() const;  // a number is taken as days; a text as ISO date-time
  QByteArray ToBytes() const;
  // Decimal text of a number value ("12.5"), for exact BCD handling.
  QString ToDecimalText() const;

  // Raw access to the stored value of the type at hand.
  const QString& StringRef() const;
  const QByteArray& BytesRef() const;

  // Same type and same value (Double compares bit for bit equal values).
  bool operator==(const Variant& other) const;

  static QString TypeName(Type type);

 private:
  Type FType = Type::Empty;
  std::variant<std::monostate, QString, qint64, quint64, double, Currency, bool, QByteArray> FData;

  template <typename T>
  static Variant Make(Type type, const T& value);
  [[noreturn]] void FailConversion(const char* target) const;
};
