#include "ColumnLimits.h"

#include <cmath>
#include <limits>

#include "AppMiscQueries.h"
#include "Cp1251.h"
#include "DbValues.h"
#include "NompackError.h"

namespace {

TColumnLimit IntegerLimit(const QString& typeText, int bits, bool isUnsigned) {
  TColumnLimit limit;
  limit.LimitKind = TColumnLimit::Kind::Integer;
  limit.TypeText = typeText;
  limit.Unsigned = isUnsigned;
  if (isUnsigned) {
    limit.Min = 0;
    limit.Max = bits >= 64 ? std::numeric_limits<qint64>::max() : (qint64(1) << bits) - 1;
  } else {
    limit.Min = bits >= 64 ? std::numeric_limits<qint64>::min() : -(qint64(1) << (bits - 1));
    limit.Max = bits >= 64 ? std::numeric_limits<qint64>::max() : (qint64(1) << (bits - 1)) - 1;
  }
  return limit;
}

// Digits before the decimal point of a decimal text ("-0012.50" has 2).
int IntegerDigitsOf(const QString& decimalText) {
  qsizetype start = 0;
  if (start < decimalText.size() &&
      (decimalText[start] == QLatin1Char('-') || decimalText[start] == QLatin1Char('+')))
    ++start;
  qsizetype end = decimalText.indexOf(QLatin1Char('.'), start);
  if (end < 0) end = decimalText.size();
  while (start < end && decimalText[start] == QLatin1Char('0')) ++start;
  return static_cast<int>(end - start);
}

// U+0000 when every character has a Windows-1251 form.
QChar FirstCharWithoutCp1251Form(const QString& text) {
  for (const QChar c : text) {
    if (c.unicode() >= 0x80 && Cp1251::HighByte(c.unicode()) == 0) return c;
  }
  return QChar();
}

QString OutOfRange(const QString& column, const Variant& value, const QString& typeText) {
  return QStringLiteral("Стойността %1 на колона %2 е извън обхвата на колоната (%3)")
      .arg(value.ToString(), column, typeText);
}

}  // namespace

TColumnLimits TColumnLimits::ReadMySQL(TDM& dm, const QString& table) {
  TColumnLimits limits;
  const auto query = CreateMySQLQuery(
      dm,
      QStringLiteral("SELECT COLUMN_NAME, DATA_TYPE, COLUMN_TYPE, CHARACTER_MAXIMUM_LENGTH, "
                     "CHARACTER_OCTET_LENGTH, CHARACTER_SET_NAME, NUMERIC_PRECISION, NUMERIC_SCALE "
                     "FROM information_schema.COLUMNS "
                     "WHERE TABLE_SCHEMA = DATABASE() AND TABLE_NAME = :TABLE_NAME"));
  SetStringParam(*query, QStringLiteral("TABLE_NAME"), table);
  query->Open();
  for (query->First(); !query->Eof(); query->Next()) {
    const QString dataType = query->Fields(1).AsString().toLower();
    const QString columnType = query->Fields(2).AsString().toLower();
    const bool isUnsigned = columnType.contains(QLatin1String("unsigned"));
    TColumnLimit limit;
    if (dataType == QLatin1String("char") || dataType == QLatin1String("varchar")) {
      limit.LimitKind = TColumnLimit::Kind::Text;
      limit.MaxLength = query->Fields(3).AsLargeInt();
    } else if (dataType.endsWith(QLatin1String("text"))) {
      // The text types count bytes of the column's character set.
      limit.LimitKind = TColumnLimit::Kind::Text;
      limit.ByteLength = true;
      limit.MaxLength = query->Fields(4).AsLargeInt();
      limit.Utf8 = query->Fields(5).AsString().startsWith(QLatin1String("utf8"));
    } else if (dataType == QLatin1String("tinyint")) {
      limit = IntegerLimit(columnType, 8, isUnsigned);
    } else if (dataType == QLatin1String("smallint")) {
      limit = IntegerLimit(columnType, 16, isUnsigned);
    } else if (dataType == QLatin1String("mediumint")) {
      limit = IntegerLimit(columnType, 24, isUnsigned);
    } else if (dataType == QLatin1String("int")) {
      limit = IntegerLimit(columnType, 32, isUnsigned);
    } else if (dataType == QLatin1String("bigint")) {
      limit = IntegerLimit(columnType, 64, isUnsigned);
    } else if (dataType == QLatin1String("decimal")) {
      limit.LimitKind = TColumnLimit::Kind::Decimal;
      limit.Scale = query->Fields(7).AsInteger();
      limit.IntegerDigits = query->Fields(6).AsInteger() - limit.Scale;
    }
    limit.TypeText = columnType;
    limits.FLimits.insert(query->Fields(0).AsString().toUpper(), limit);
  }
  return limits;
}

TColumnLimits TColumnLimits::ReadFB(TDM& dm, const QString& table) {
  TColumnLimits limits;
  const auto query = CreateFBQuery(
      dm,
      QStringLiteral(
          "SELECT TRIM(RF.RDB$FIELD_NAME) FIELD_NAME, F.RDB$FIELD_TYPE FIELD_TYPE, "
          "F.RDB$FIELD_SCALE FIELD_SCALE, F.RDB$CHARACTER_LENGTH CHARS "
          "FROM RDB$RELATION_FIELDS RF JOIN RDB$FIELDS F ON F.RDB$FIELD_NAME = RF.RDB$FIELD_SOURCE "
          "WHERE RF.RDB$RELATION_NAME = :TABLE_NAME"));
  // Unquoted names, the only ones a packet may use, are upper case there.
  SetStringParam(*query, QStringLiteral("TABLE_NAME"), table.toUpper());
  query->Open();
  for (query->First(); !query->Eof(); query->Next()) {
    const int fieldType = query->Fields(1).AsInteger();
    const int scale = query->Fields(2).AsInteger();
    TColumnLimit limit;
    // Scaled integers (NUMERIC, DECIMAL) hold what their storage holds: the
    // server itself refuses what does not fit, so only plain integers and
    // text are checked here.
    if ((fieldType == 14 || fieldType == 37) && !query->Fields(3).IsNull()) {
      limit.LimitKind = TColumnLimit::Kind::Text;
      limit.MaxLength = query->Fields(3).AsInteger();
      limit.TypeText =
          QStringLiteral("%1(%2)")
              .arg(fieldType == 14 ? QStringLiteral("CHAR") : QStringLiteral("VARCHAR"))
              .arg(limit.MaxLength);
    } else if (fieldType == 7 && scale == 0) {
      limit = IntegerLimit(QStringLiteral("SMALLINT"), 16, false);
    } else if (fieldType == 8 && scale == 0) {
      limit = IntegerLimit(QStringLiteral("INTEGER"), 32, false);
    }
    limits.FLimits.insert(query->Fields(0).AsString().toUpper(), limit);
  }
  return limits;
}

const TColumnLimit* TColumnLimits::Find(const QString& column) const {
  const auto it = FLimits.constFind(column.toUpper());
  if (it == FLimits.constEnd() || it->LimitKind == TColumnLimit::Kind::None) return nullptr;
  return &*it;
}

QString TColumnLimits::Check(const QString& column, const TColumnLimit* limit,
                             const Variant& value) {
  if (value.VarType() == Variant::Type::String) {
    // The client encodes the text when it binds it; here only the first
    // character without a form is looked for, with no copy made per value.
    const QChar bad = FirstCharWithoutCp1251Form(value.StringRef());
    if (!bad.isNull()) {
      return QStringLiteral(
                 "Стойността на колона %1 съдържа знака \"%2\" (U+%3), който не може да се "
                 "запише в Windows-1251")
          .arg(column, QString(bad),
               QString::number(bad.unicode(), 16).toUpper().rightJustified(4, QLatin1Char('0')));
    }
  }
  if (!limit || value.IsNullOrEmpty()) return QString();
  switch (limit->LimitKind) {
    case TColumnLimit::Kind::Text: {
      if (value.VarType() != Variant::Type::String) break;
      const QString& text = value.StringRef();
      const qint64 length = !limit->ByteLength ? text.size()
                            : limit->Utf8      ? text.toUtf8().size()
                                               : text.size();
      if (length > limit->MaxLength) {
        return QStringLiteral("Стойността на колона %1 е дълга %2 %3, а колоната (%4) побира %5")
            .arg(column)
            .arg(length)
            .arg(limit->ByteLength ? QStringLiteral("байта") : QStringLiteral("знака"),
                 limit->TypeText)
            .arg(limit->MaxLength);
      }
      break;
    }
    case TColumnLimit::Kind::Integer: {
      if (value.IsInteger()) {
        const bool unsignedValue =
            value.VarType() == Variant::Type::UInt32 || value.VarType() == Variant::Type::UInt64;
        if (unsignedValue) {
          // An unsigned bigint column holds every unsigned value.
          const quint64 u = value.ToString().toULongLong();
          if (!(limit->Unsigned && limit->Max == std::numeric_limits<qint64>::max()) &&
              u > quint64(limit->Max))
            return OutOfRange(column, value, limit->TypeText);
          break;
        }
        const qint64 v = value.ToInt64();
        if (v < limit->Min || v > limit->Max) return OutOfRange(column, value, limit->TypeText);
      } else if (value.IsFloat()) {
        double d = 0;
        try {
          d = value.ToDouble();
        } catch (const ENompackError&) {
          break;
        }
        if (!std::isfinite(d) || std::round(d) < static_cast<double>(limit->Min) ||
            std::round(d) > static_cast<double>(limit->Max))
          return OutOfRange(column, value, limit->TypeText);
      }
      break;
    }
    case TColumnLimit::Kind::Decimal: {
      if (!value.IsInteger() && !value.IsFloat()) break;
      QString text;
      try {
        text = value.ToDecimalText();
      } catch (const ENompackError&) {
        break;
      }
      // The server rounds to the column's scale first: 999.995 no longer
      // fits a decimal(5,2).
      qint64 scaled = 0;
      if (DbValues::DecimalToScaled(text, limit->Scale, scaled))
        text = DbValues::ScaledToDecimal(scaled, limit->Scale);
      if (IntegerDigitsOf(text) > limit->IntegerDigits)
        return OutOfRange(column, value, limit->TypeText);
      break;
    }
    case TColumnLimit::Kind::None:
      break;
  }
  return QString();
}

TChunkLimits::TChunkLimits(const TColumnLimits& limits, const QVector<TFieldDef>& fields,
                           const QVector<bool>& loaded) {
  for (int c = 0; c < fields.size(); ++c) {
    if (c < loaded.size() && loaded[c])
      FColumns.append({c, fields[c].Name, limits.Find(fields[c].Name)});
  }
}

QString TChunkLimits::RowRefusal(const QVector<Variant>& values) const {
  for (const TColumn& column : FColumns) {
    if (column.Index >= values.size()) break;
    QString refusal = TColumnLimits::Check(column.Name, column.Limit, values[column.Index]);
    if (!refusal.isEmpty()) return refusal;
  }
  return QString();
}
