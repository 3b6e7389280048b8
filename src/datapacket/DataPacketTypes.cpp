#include "DataPacketTypes.h"

#include <limits>

namespace DataPacketTypes {

TPacketType ToPacket(TFieldType type) {
  switch (type) {
    case ftString:
      return {"string", nullptr};
    case ftFixedChar:
      return {"string", "FixedChar"};
    case ftGuid:
      return {"string", "Guid"};
    case ftWideString:
      return {"string.uni", nullptr};
    case ftSmallint:
      return {"i2", nullptr};
    case ftInteger:
      return {"i4", nullptr};
    case ftAutoInc:
      return {"i4", "Autoinc"};
    case ftLargeint:
      return {"i8", nullptr};
    case ftWord:
      return {"ui2", nullptr};
    case ftBoolean:
      return {"boolean", nullptr};
    case ftFloat:
      return {"r8", nullptr};
    case ftCurrency:
      return {"r8", "Money"};
    case ftBCD:
      return {"fixed", nullptr};
    case ftFMTBcd:
      return {"fixedFMT", nullptr};
    case ftDate:
      return {"date", nullptr};
    case ftTime:
      return {"time", nullptr};
    case ftDateTime:
      return {"dateTime", nullptr};
    case ftTimeStamp:
      return {"SQLdateTime", "Formatted"};
    case ftBytes:
    case ftVarBytes:
      return {"bin.hex", nullptr};
    case ftBlob:
      return {"bin.hex", "Binary"};
    case ftMemo:
      return {"bin.hex", "Text"};
    case ftGraphic:
      return {"bin.hex", "Graphics"};
    case ftFmtMemo:
      return {"bin.hex", "Formatted"};
    case ftParadoxOle:
      return {"bin.hex", "Ole"};
    case ftDBaseOle:
      return {"bin.hex", "dBASEOle"};
    case ftTypedBinary:
      return {"bin.hex", "TypedBinary"};
    case ftOraBlob:
      return {"bin.hex", "HBinary"};
    case ftOraClob:
      return {"bin.hex", "HMemo"};
    default:
      return {};
  }
}

TPacketValueKind ValueKind(TFieldType type) {
  switch (type) {
    case ftString:
    case ftFixedChar:
    case ftGuid:
    case ftMemo:
      return TPacketValueKind::Text;
    case ftWideString:
      return TPacketValueKind::WideText;
    case ftSmallint:
    case ftInteger:
    case ftAutoInc:
    case ftLargeint:
    case ftWord:
      return TPacketValueKind::Integer;
    case ftBoolean:
      return TPacketValueKind::Boolean;
    case ftFloat:
    case ftCurrency:
      return TPacketValueKind::Float;
    case ftBCD:
    case ftFMTBcd:
      return TPacketValueKind::Bcd;
    case ftDate:
      return TPacketValueKind::Date;
    case ftTime:
      return TPacketValueKind::Time;
    case ftDateTime:
    case ftTimeStamp:
      return TPacketValueKind::DateTime;
    case ftFmtMemo:
    case ftOraClob:
      return TPacketValueKind::EncodedText;
    default:
      return IsBinaryFieldType(type) ? TPacketValueKind::Binary : TPacketValueKind::Unsupported;
  }
}

namespace {
bool Is(const QString& text, const char* name) {
  return text.compare(QLatin1String(name), Qt::CaseInsensitive) == 0;
}
}  // namespace

TReadType FromPacket(const QString& fieldType, const QString& subType) {
  const QString& t = fieldType;
  const QString& s = subType;
  if (Is(t, "string")) {
    if (Is(s, "FixedChar")) return {ftFixedChar};
    if (Is(s, "Guid")) return {ftGuid};
    return {ftString};
  }
  if (Is(t, "string.uni")) return {ftWideString, true};
  if (Is(t, "i1") || Is(t, "i2")) return {ftSmallint};
  if (Is(t, "i4") || Is(t, "i") || Is(t, "int")) return {Is(s, "Autoinc") ? ftAutoInc : ftInteger};
  // Unsigned four-byte values do not fit our 32-bit integer: they need 64 bits.
  if (Is(t, "ui4") || Is(t, "uint") || Is(t, "i8")) return {ftLargeint};
  if (Is(t, "ui1") || Is(t, "ui2")) return {ftWord};
  if (Is(t, "boolean")) return {ftBoolean};
  if (Is(t, "r8")) return {Is(s, "Money") ? ftCurrency : ftFloat};
  if (Is(t, "r4")) return {ftFloat};
  if (Is(t, "fixed")) return {ftBCD};
  if (Is(t, "fixedFMT")) return {ftFMTBcd};
  if (Is(t, "date")) return {ftDate};
  if (Is(t, "time")) return {ftTime};
  if (Is(t, "dateTime")) return {ftDateTime};
  if (Is(t, "SQLdateTime")) return {ftTimeStamp};
  if (Is(t, "bin.hex")) {
    if (s.isEmpty()) return {ftVarBytes};
    if (Is(s, "Text")) return {ftMemo};
    if (Is(s, "Graphics")) return {ftGraphic};
    if (Is(s, "Formatted")) return {ftFmtMemo};
    if (Is(s, "Ole")) return {ftParadoxOle};
    if (Is(s, "dBASEOle")) return {ftDBaseOle};
    if (Is(s, "TypedBinary")) return {ftTypedBinary};
    if (Is(s, "HBinary")) return {ftOraBlob};
    if (Is(s, "HMemo")) return {ftOraClob};
    // Binary and any subtype we do not know: the bytes as they are.
    return {ftBlob};
  }
  return {};
}

void IntegerRange(TFieldType type, qint64& low, qint64& high) {
  switch (type) {
    case ftSmallint:
      low = std::numeric_limits<qint16>::min();
      high = std::numeric_limits<qint16>::max();
      return;
    case ftWord:
      low = 0;
      high = std::numeric_limits<quint16>::max();
      return;
    case ftInteger:
    case ftAutoInc:
      low = std::numeric_limits<qint32>::min();
      high = std::numeric_limits<qint32>::max();
      return;
    default:
      low = std::numeric_limits<qint64>::min();
      high = std::numeric_limits<qint64>::max();
      return;
  }
}

}  // namespace DataPacketTypes
