#pragma once

#include <QString>

#include "FieldType.h"

// How the values of a column are spelled in ROW attributes.
enum class TPacketValueKind {
  Unsupported,
  Text,         // escaped text in the file's encoding
  WideText,     // escaped text, every character from U+0080 up as a reference
  Integer,      // plain decimal
  Boolean,      // TRUE / FALSE
  Float,        // shortest round-trip double
  Bcd,          // plain decimal text, never an exponent
  Date,         // YYYYMMDD
  Time,         // HH:MM:SSmmm
  DateTime,     // YYYYMMDD[THH:MM:SSmmm]
  Binary,       // base64
  EncodedText,  // a text blob kept as base64 of its Windows-1251 bytes
};

// The fieldtype and SUBTYPE spelling of our field types, both ways.
namespace DataPacketTypes {

struct TPacketType {
  const char* FieldType = nullptr;  // nullptr: the type cannot be written
  const char* SubType = nullptr;    // nullptr: no SUBTYPE
};

TPacketType ToPacket(TFieldType type);
TPacketValueKind ValueKind(TFieldType type);

// The field type of a FIELD element (both names compare ignoring case);
// ftUnknown when fieldType is none we know. WidthInBytes says WIDTH counts
// bytes of two-byte characters.
struct TReadType {
  TFieldType Type = ftUnknown;
  bool WidthInBytes = false;
};
TReadType FromPacket(const QString& fieldType, const QString& subType);

// The range an integer field holds.
void IntegerRange(TFieldType type, qint64& low, qint64& high);

}  // namespace DataPacketTypes
