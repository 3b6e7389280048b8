#include "FBTypeMap.h"

namespace {

// Which columns of a server type a row covers.
enum class Cond { Any, Unscaled, Scaled, Octets, Characters, TextBlob, BinaryBlob };
enum class Size { None, Chars, Bytes, Scale };

struct Row {
  short Type;
  Cond When;
  TFieldType Field;
  Size SizeFrom;
  int StoragePrecision;  // digits the storage holds, for scaled integers
  TFBRead Read;
};

// Column types of the server (dialect 3) and what they read as. NUMERIC and
// DECIMAL are scaled integers: size is the scale, precision the declared one
// from the catalogue where the column has one, else what the storage holds.
// CHAR and VARCHAR of CHARACTER SET OCTETS are bytes.
constexpr Row kColumnTypes[] = {
    {SQL_SHORT, Cond::Unscaled, ftSmallint, Size::None, 0, TFBRead::Int},
    {SQL_SHORT, Cond::Scaled, ftBCD, Size::Scale, 4, TFBRead::Scaled},
    {SQL_LONG, Cond::Unscaled, ftInteger, Size::None, 0, TFBRead::Int},
    {SQL_LONG, Cond::Scaled, ftBCD, Size::Scale, 9, TFBRead::Scaled},
    {SQL_INT64, Cond::Unscaled, ftLargeint, Size::None, 0, TFBRead::Int},
    {SQL_INT64, Cond::Scaled, ftBCD, Size::Scale, 18, TFBRead::Scaled},
    {SQL_FLOAT, Cond::Any, ftFloat, Size::None, 0, TFBRead::Double},
    {SQL_DOUBLE, Cond::Any, ftFloat, Size::None, 0, TFBRead::Double},
    {SQL_D_FLOAT, Cond::Any, ftFloat, Size::None, 0, TFBRead::Double},
    {SQL_TYPE_DATE, Cond::Any, ftDate, Size::None, 0, TFBRead::Date},
    {SQL_TYPE_TIME, Cond::Any, ftTime, Size::None, 0, TFBRead::Time},
    {SQL_TIMESTAMP, Cond::Any, ftDateTime, Size::None, 0, TFBRead::TimeStamp},
    {SQL_TEXT, Cond::Octets, ftBytes, Size::Bytes, 0, TFBRead::Octets},
    {SQL_TEXT, Cond::Characters, ftFixedChar, Size::Chars, 0, TFBRead::Text},
    {SQL_VARYING, Cond::Octets, ftVarBytes, Size::Bytes, 0, TFBRead::Octets},
    {SQL_VARYING, Cond::Characters, ftString, Size::Chars, 0, TFBRead::Text},
    {SQL_BLOB, Cond::TextBlob, ftMemo, Size::None, 0, TFBRead::BlobText},
    {SQL_BLOB, Cond::BinaryBlob, ftBlob, Size::None, 0, TFBRead::BlobBinary},
    {SQL_BOOLEAN, Cond::Any, ftBoolean, Size::None, 0, TFBRead::Boolean},
    {SQL_NULL, Cond::Any, ftString, Size::None, 0, TFBRead::Text},
};

// Parameters, by the type the server describes: integers and NUMERIC go as
// 64-bit scaled integers with the described scale (the server range-checks
// them), text in the session's character set.
struct SendRow {
  short Type;
  Cond When;
  TFBSend Send;
};
constexpr SendRow kSendTypes[] = {
    {SQL_SHORT, Cond::Any, TFBSend::Scaled},
    {SQL_LONG, Cond::Any, TFBSend::Scaled},
    {SQL_INT64, Cond::Any, TFBSend::Scaled},
    {SQL_FLOAT, Cond::Any, TFBSend::Double},
    {SQL_DOUBLE, Cond::Any, TFBSend::Double},
    {SQL_D_FLOAT, Cond::Any, TFBSend::Double},
    {SQL_TYPE_DATE, Cond::Any, TFBSend::Date},
    {SQL_TYPE_TIME, Cond::Any, TFBSend::Time},
    {SQL_TIMESTAMP, Cond::Any, TFBSend::TimeStamp},
    {SQL_TEXT, Cond::Octets, TFBSend::Octets},
    {SQL_TEXT, Cond::Characters, TFBSend::Text},
    {SQL_VARYING, Cond::Octets, TFBSend::Octets},
    {SQL_VARYING, Cond::Characters, TFBSend::Text},
    {SQL_BLOB, Cond::TextBlob, TFBSend::BlobText},
    {SQL_BLOB, Cond::BinaryBlob, TFBSend::BlobBinary},
    {SQL_BOOLEAN, Cond::Any, TFBSend::Boolean},
};

// Character set 1 is OCTETS; the character set id sits in the low byte of
// sqlsubtype for CHAR and VARCHAR.
bool Matches(Cond cond, const XSQLVAR& v) {
  const short type = v.sqltype & ~1;
  switch (cond) {
    case Cond::Any:
      return true;
    case Cond::Unscaled:
      return v.sqlscale == 0;
    case Cond::Scaled:
      return v.sqlscale < 0;
    case Cond::Octets:
      return (v.sqlsubtype & 0xFF) == 1;
    case Cond::Characters:
      return (v.sqlsubtype & 0xFF) != 1;
    case Cond::TextBlob:
      return type == SQL_BLOB && v.sqlsubtype == 1;
    case Cond::BinaryBlob:
      return type == SQL_BLOB && v.sqlsubtype != 1;
  }
  return false;
}

}  // namespace

TFBColumn DescribeFBColumn(const XSQLVAR& var, int bytesPerChar) {
  TFBColumn out;
  const short type = var.sqltype & ~1;
  out.Def.Required = (var.sqltype & 1) == 0;
  for (const Row& row : kColumnTypes) {
    if (row.Type != type || !Matches(row.When, var)) continue;
    out.Def.DataType = row.Field;
    out.Read = row.Read;
    out.Varying = type == SQL_VARYING;
    out.Scale = -var.sqlscale;
    switch (row.SizeFrom) {
      case Size::None:
        break;
      case Size::Chars:
        out.Def.Size = var.sqllen / (bytesPerChar > 0 ? bytesPerChar : 1);
        break;
      case Size::Bytes:
        out.Def.Size = var.sqllen;
        break;
      case Size::Scale:
        out.Def.Size = -var.sqlscale;
        out.Def.Precision = row.StoragePrecision;
        out.NeedsPrecision = true;
        break;
    }
    return out;
  }
  out.Def.DataType = ftUnknown;
  out.Read = TFBRead::Unsupported;
  return out;
}

TFBSend FBSendFor(const XSQLVAR& described) {
  const short type = described.sqltype & ~1;
  for (const SendRow& row : kSendTypes)
    if (row.Type == type && Matches(row.When, described)) return row.Send;
  return TFBSend::Text;
}
