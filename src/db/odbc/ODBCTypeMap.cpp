#include "ODBCTypeMap.h"

namespace {

// Character and binary types longer than SQL Server's 8000 bytes (or of no
// declared length, as the (max) types report) are memos and blobs.
constexpr SQLULEN kLongest = 8000;

enum class Cond { Any, Bounded, Unbounded };
enum class Size { None, Length, Decimal };

struct Row {
  SQLSMALLINT Type;
  Cond When;
  TFieldType Field;
  Size SizeFrom;
  TODBCRead Read;
};

// DECIMAL/NUMERIC(p,s) give size s and precision p; character types their
// length in characters, binary types in bytes.
constexpr Row kColumnTypes[] = {
    {SQL_BIT, Cond::Any, ftBoolean, Size::None, TODBCRead::Bit},
    {SQL_TINYINT, Cond::Any, ftSmallint, Size::None, TODBCRead::Int},
    {SQL_SMALLINT, Cond::Any, ftSmallint, Size::None, TODBCRead::Int},
    {SQL_INTEGER, Cond::Any, ftInteger, Size::None, TODBCRead::Int},
    {SQL_BIGINT, Cond::Any, ftLargeint, Size::None, TODBCRead::Int},
    {SQL_REAL, Cond::Any, ftFloat, Size::None, TODBCRead::Double},
    {SQL_FLOAT, Cond::Any, ftFloat, Size::None, TODBCRead::Double},
    {SQL_DOUBLE, Cond::Any, ftFloat, Size::None, TODBCRead::Double},
    {SQL_DECIMAL, Cond::Any, ftBCD, Size::Decimal, TODBCRead::Decimal},
    {SQL_NUMERIC, Cond::Any, ftBCD, Size::Decimal, TODBCRead::Decimal},
    {SQL_CHAR, Cond::Bounded, ftFixedChar, Size::Length, TODBCRead::Text},
    {SQL_WCHAR, Cond::Bounded, ftFixedChar, Size::Length, TODBCRead::Text},
    {SQL_VARCHAR, Cond::Bounded, ftString, Size::Length, TODBCRead::Text},
    {SQL_WVARCHAR, Cond::Bounded, ftWideString, Size::Length, TODBCRead::Text},
    {SQL_CHAR, Cond::Unbounded, ftMemo, Size::None, TODBCRead::Text},
    {SQL_WCHAR, Cond::Unbounded, ftMemo, Size::None, TODBCRead::Text},
    {SQL_VARCHAR, Cond::Unbounded, ftMemo, Size::None, TODBCRead::Text},
    {SQL_WVARCHAR, Cond::Unbounded, ftMemo, Size::None, TODBCRead::Text},
    {SQL_LONGVARCHAR, Cond::Any, ftMemo, Size::None, TODBCRead::Text},
    {SQL_WLONGVARCHAR, Cond::Any, ftMemo, Size::None, TODBCRead::Text},
    {SQL_BINARY, Cond::Bounded, ftBytes, Size::Length, TODBCRead::Bytes},
    {SQL_VARBINARY, Cond::Bounded, ftVarBytes, Size::Length, TODBCRead::Bytes},
    {SQL_BINARY, Cond::Unbounded, ftBlob, Size::None, TODBCRead::Bytes},
    {SQL_VARBINARY, Cond::Unbounded, ftBlob, Size::None, TODBCRead::Bytes},
    {SQL_LONGVARBINARY, Cond::Any, ftBlob, Size::None, TODBCRead::Bytes},
    {SQL_TYPE_DATE, Cond::Any, ftDate, Size::None, TODBCRead::Date},
    {SQL_TYPE_TIME, Cond::Any, ftTime, Size::None, TODBCRead::Time},
    {kSqlSsTime2, Cond::Any, ftTime, Size::None, TODBCRead::Time},
    {SQL_TYPE_TIMESTAMP, Cond::Any, ftDateTime, Size::None, TODBCRead::TimeStamp},
    {SQL_DATETIME, Cond::Any, ftDateTime, Size::None, TODBCRead::TimeStamp},
    {kSqlSsTimestampOffset, Cond::Any, ftString, Size::Length, TODBCRead::Text},
    {SQL_GUID, Cond::Any, ftGuid, Size::Length, TODBCRead::Text},
};

// Parameters: text as UTF-16, exact decimals as their text, integers by width.
struct SendRow {
  TFieldType Field;
  TODBCSend Send;
};
constexpr SendRow kSendTypes[] = {
    {ftString, TODBCSend::Text},         {ftFixedChar, TODBCSend::Text},
    {ftWideString, TODBCSend::Text},     {ftMemo, TODBCSend::Text},
    {ftFmtMemo, TODBCSend::Text},        {ftOraClob, TODBCSend::Text},
    {ftGuid, TODBCSend::Text},           {ftSmallint, TODBCSend::Int16},
    {ftInteger, TODBCSend::Int32},       {ftWord, TODBCSend::Int32},
    {ftAutoInc, TODBCSend::Int32},       {ftLargeint, TODBCSend::Int64},
    {ftBoolean, TODBCSend::Bit},         {ftFloat, TODBCSend::Double},
    {ftCurrency, TODBCSend::Decimal},    {ftBCD, TODBCSend::Decimal},
    {ftFMTBcd, TODBCSend::Decimal},      {ftDate, TODBCSend::Date},
    {ftTime, TODBCSend::Time},           {ftDateTime, TODBCSend::TimeStamp},
    {ftTimeStamp, TODBCSend::TimeStamp}, {ftBytes, TODBCSend::Binary},
    {ftVarBytes, TODBCSend::Binary},     {ftBlob, TODBCSend::Binary},
    {ftGraphic, TODBCSend::Binary},      {ftTypedBinary, TODBCSend::Binary},
    {ftParadoxOle, TODBCSend::Binary},   {ftDBaseOle, TODBCSend::Binary},
    {ftOraBlob, TODBCSend::Binary},
};

bool Matches(Cond cond, SQLULEN size) {
  switch (cond) {
    case Cond::Any:
      return true;
    case Cond::Bounded:
      return size > 0 && size <= kLongest;
    case Cond::Unbounded:
      return size == 0 || size > kLongest;
  }
  return false;
}

}  // namespace

TODBCColumn DescribeODBCColumn(SQLSMALLINT sqlType, SQLULEN columnSize, SQLSMALLINT decimalDigits) {
  TODBCColumn out;
  for (const Row& row : kColumnTypes) {
    if (row.Type != sqlType || !Matches(row.When, columnSize)) continue;
    out.Def.DataType = row.Field;
    out.Read = row.Read;
    if (row.SizeFrom == Size::Length) out.Def.Size = static_cast<int>(columnSize);
    if (row.SizeFrom == Size::Decimal) {
      out.Def.Size = decimalDigits;
      out.Def.Precision = static_cast<int>(columnSize);
    }
    return out;
  }
  // Anything else is read as text.
  out.Def.DataType = ftString;
  out.Def.Size = Matches(Cond::Bounded, columnSize) ? static_cast<int>(columnSize) : 0;
  return out;
}

TODBCSend ODBCSendFor(TFieldType type) {
  for (const SendRow& row : kSendTypes)
    if (row.Field == type) return row.Send;
  return TODBCSend::None;
}
