#include "MySQLTypeMap.h"

#include <iterator>

namespace {

// Which columns of a server type a row covers.
enum class Cond { Any, Signed, Unsigned, Binary, Text, OneBit, ManyBits };
// Where the field's size and precision come from.
enum class Size { None, Chars, Bytes, Decimal };

struct Row {
  enum_field_types Type;
  Cond When;
  TFieldType Field;
  Size SizeFrom;
  TMySQLRead Read;
};

// Column types of the server and what they read as. DECIMAL(p,s) gives size s
// and precision p; CHAR/VARCHAR(n) size n in characters; BINARY/VARBINARY(n)
// size n in bytes. TINYINT(1) stays a number: only BIT(1) is a Boolean.
constexpr Row kColumnTypes[] = {
    {MYSQL_TYPE_TINY, Cond::Any, ftSmallint, Size::None, TMySQLRead::Int},
    {MYSQL_TYPE_SHORT, Cond::Signed, ftSmallint, Size::None, TMySQLRead::Int},
    {MYSQL_TYPE_SHORT, Cond::Unsigned, ftInteger, Size::None, TMySQLRead::Int},
    {MYSQL_TYPE_INT24, Cond::Any, ftInteger, Size::None, TMySQLRead::Int},
    {MYSQL_TYPE_LONG, Cond::Signed, ftInteger, Size::None, TMySQLRead::Int},
    {MYSQL_TYPE_LONG, Cond::Unsigned, ftLargeint, Size::None, TMySQLRead::Int},
    {MYSQL_TYPE_LONGLONG, Cond::Signed, ftLargeint, Size::None, TMySQLRead::Int},
    {MYSQL_TYPE_LONGLONG, Cond::Unsigned, ftLargeint, Size::None, TMySQLRead::UInt},
    {MYSQL_TYPE_YEAR, Cond::Any, ftSmallint, Size::None, TMySQLRead::Int},
    {MYSQL_TYPE_FLOAT, Cond::Any, ftFloat, Size::None, TMySQLRead::Double},
    {MYSQL_TYPE_DOUBLE, Cond::Any, ftFloat, Size::None, TMySQLRead::Double},
    {MYSQL_TYPE_DECIMAL, Cond::Any, ftBCD, Size::Decimal, TMySQLRead::Decimal},
    {MYSQL_TYPE_NEWDECIMAL, Cond::Any, ftBCD, Size::Decimal, TMySQLRead::Decimal},
    {MYSQL_TYPE_DATE, Cond::Any, ftDate, Size::None, TMySQLRead::Date},
    {MYSQL_TYPE_NEWDATE, Cond::Any, ftDate, Size::None, TMySQLRead::Date},
    {MYSQL_TYPE_TIME, Cond::Any, ftTime, Size::None, TMySQLRead::Time},
    {MYSQL_TYPE_TIME2, Cond::Any, ftTime, Size::None, TMySQLRead::Time},
    {MYSQL_TYPE_DATETIME, Cond::Any, ftDateTime, Size::None, TMySQLRead::DateTime},
    {MYSQL_TYPE_DATETIME2, Cond::Any, ftDateTime, Size::None, TMySQLRead::DateTime},
    {MYSQL_TYPE_TIMESTAMP, Cond::Any, ftDateTime, Size::None, TMySQLRead::DateTime},
    {MYSQL_TYPE_TIMESTAMP2, Cond::Any, ftDateTime, Size::None, TMySQLRead::DateTime},
    {MYSQL_TYPE_BIT, Cond::OneBit, ftBoolean, Size::None, TMySQLRead::Bit},
    {MYSQL_TYPE_BIT, Cond::ManyBits, ftLargeint, Size::None, TMySQLRead::Bit},
    {MYSQL_TYPE_STRING, Cond::Binary, ftBytes, Size::Bytes, TMySQLRead::Bytes},
    {MYSQL_TYPE_STRING, Cond::Text, ftFixedChar, Size::Chars, TMySQLRead::Text},
    {MYSQL_TYPE_VAR_STRING, Cond::Binary, ftVarBytes, Size::Bytes, TMySQLRead::Bytes},
    {MYSQL_TYPE_VAR_STRING, Cond::Text, ftString, Size::Chars, TMySQLRead::Text},
    {MYSQL_TYPE_VARCHAR, Cond::Binary, ftVarBytes, Size::Bytes, TMySQLRead::Bytes},
    {MYSQL_TYPE_VARCHAR, Cond::Text, ftString, Size::Chars, TMySQLRead::Text},
    {MYSQL_TYPE_ENUM, Cond::Any, ftString, Size::Chars, TMySQLRead::Text},
    {MYSQL_TYPE_SET, Cond::Any, ftString, Size::Chars, TMySQLRead::Text},
    {MYSQL_TYPE_TINY_BLOB, Cond::Binary, ftBlob, Size::None, TMySQLRead::Bytes},
    {MYSQL_TYPE_TINY_BLOB, Cond::Text, ftMemo, Size::None, TMySQLRead::Text},
    {MYSQL_TYPE_BLOB, Cond::Binary, ftBlob, Size::None, TMySQLRead::Bytes},
    {MYSQL_TYPE_BLOB, Cond::Text, ftMemo, Size::None, TMySQLRead::Text},
    {MYSQL_TYPE_MEDIUM_BLOB, Cond::Binary, ftBlob, Size::None, TMySQLRead::Bytes},
    {MYSQL_TYPE_MEDIUM_BLOB, Cond::Text, ftMemo, Size::None, TMySQLRead::Text},
    {MYSQL_TYPE_LONG_BLOB, Cond::Binary, ftBlob, Size::None, TMySQLRead::Bytes},
    {MYSQL_TYPE_LONG_BLOB, Cond::Text, ftMemo, Size::None, TMySQLRead::Text},
    {MYSQL_TYPE_JSON, Cond::Any, ftMemo, Size::None, TMySQLRead::Text},
    {MYSQL_TYPE_GEOMETRY, Cond::Any, ftBlob, Size::None, TMySQLRead::Bytes},
    {MYSQL_TYPE_NULL, Cond::Any, ftString, Size::None, TMySQLRead::Text},
};

// Parameters: what each field type is sent as. Text goes as Windows-1251
// bytes, exact decimals as their text, integers in 64 bits.
struct BindRow {
  TFieldType Field;
  enum_field_types Type;
};
constexpr BindRow kBindTypes[] = {
    {ftString, MYSQL_TYPE_STRING},       {ftFixedChar, MYSQL_TYPE_STRING},
    {ftWideString, MYSQL_TYPE_STRING},   {ftMemo, MYSQL_TYPE_STRING},
    {ftFmtMemo, MYSQL_TYPE_STRING},      {ftOraClob, MYSQL_TYPE_STRING},
    {ftGuid, MYSQL_TYPE_STRING},         {ftSmallint, MYSQL_TYPE_LONGLONG},
    {ftInteger, MYSQL_TYPE_LONGLONG},    {ftWord, MYSQL_TYPE_LONGLONG},
    {ftAutoInc, MYSQL_TYPE_LONGLONG},    {ftLargeint, MYSQL_TYPE_LONGLONG},
    {ftBoolean, MYSQL_TYPE_TINY},        {ftFloat, MYSQL_TYPE_DOUBLE},
    {ftCurrency, MYSQL_TYPE_NEWDECIMAL}, {ftBCD, MYSQL_TYPE_NEWDECIMAL},
    {ftFMTBcd, MYSQL_TYPE_NEWDECIMAL},   {ftDate, MYSQL_TYPE_DATE},
    {ftTime, MYSQL_TYPE_TIME},           {ftDateTime, MYSQL_TYPE_DATETIME},
    {ftTimeStamp, MYSQL_TYPE_DATETIME},  {ftBytes, MYSQL_TYPE_BLOB},
    {ftVarBytes, MYSQL_TYPE_BLOB},       {ftBlob, MYSQL_TYPE_BLOB},
    {ftGraphic, MYSQL_TYPE_BLOB},        {ftTypedBinary, MYSQL_TYPE_BLOB},
    {ftParadoxOle, MYSQL_TYPE_BLOB},     {ftDBaseOle, MYSQL_TYPE_BLOB},
    {ftOraBlob, MYSQL_TYPE_BLOB},
};

bool Matches(Cond cond, const MYSQL_FIELD& f) {
  const bool isUnsigned = (f.flags & UNSIGNED_FLAG) != 0;
  // Character set 63 is "binary": BLOB, BINARY and VARBINARY columns.
  const bool isBinary = f.charsetnr == 63;
  switch (cond) {
    case Cond::Any:
      return true;
    case Cond::Signed:
      return !isUnsigned;
    case Cond::Unsigned:
      return isUnsigned;
    case Cond::Binary:
      return isBinary;
    case Cond::Text:
      return !isBinary;
    case Cond::OneBit:
      return f.length == 1;
    case Cond::ManyBits:
      return f.length != 1;
  }
  return false;
}

}  // namespace

TMySQLColumn DescribeMySQLColumn(const MYSQL_FIELD& field, unsigned charsetMaxLen) {
  TMySQLColumn out;
  out.Def.Name = QString();  // set by the caller, which knows the code page
  out.Def.Required = (field.flags & NOT_NULL_FLAG) != 0;
  for (const Row& row : kColumnTypes) {
    if (row.Type != field.type || !Matches(row.When, field)) continue;
    out.Def.DataType = row.Field;
    out.Read = row.Read;
    switch (row.SizeFrom) {
      case Size::None:
        break;
      case Size::Chars:
        out.Def.Size = static_cast<int>(field.length / (charsetMaxLen ? charsetMaxLen : 1));
        break;
      case Size::Bytes:
        out.Def.Size = static_cast<int>(field.length);
        break;
      case Size::Decimal: {
        // The display length counts the sign (unless unsigned) and the point.
        const int scale = static_cast<int>(field.decimals);
        int precision = static_cast<int>(field.length);
        if (!(field.flags & UNSIGNED_FLAG)) --precision;
        if (scale > 0) --precision;
        out.Def.Size = scale;
        out.Def.Precision = precision;
        break;
      }
    }
    return out;
  }
  out.Def.DataType = ftString;
  out.Read = TMySQLRead::Text;
  return out;
}

enum_field_types MySQLBindType(TFieldType type) {
  for (const BindRow& row : kBindTypes)
    if (row.Field == type) return row.Type;
  return MYSQL_TYPE_NULL;
}
