#pragma once

#include <QString>

// Data type of a chunk column. The ordinals are fixed: chunk files, the
// loaders' bindings and the column type mapping all speak in them.
enum TFieldType : int {
  ftUnknown = 0,
  ftString = 1,
  ftSmallint = 2,
  ftInteger = 3,
  ftWord = 4,
  ftBoolean = 5,
  ftFloat = 6,
  ftCurrency = 7,
  ftBCD = 8,
  ftDate = 9,
  ftTime = 10,
  ftDateTime = 11,
  ftBytes = 12,
  ftVarBytes = 13,
  ftAutoInc = 14,
  ftBlob = 15,
  ftMemo = 16,
  ftGraphic = 17,
  ftFmtMemo = 18,
  ftParadoxOle = 19,
  ftDBaseOle = 20,
  ftTypedBinary = 21,
  ftCursor = 22,
  ftFixedChar = 23,
  ftWideString = 24,
  ftLargeint = 25,
  ftADT = 26,
  ftArray = 27,
  ftReference = 28,
  ftDataSet = 29,
  ftOraBlob = 30,
  ftOraClob = 31,
  ftVariant = 32,
  ftInterface = 33,
  ftIDispatch = 34,
  ftGuid = 35,
  ftTimeStamp = 36,
  ftFMTBcd = 37,
};

constexpr int kFieldTypeCount = 38;

// "ftString" for ftString; "ftUnknown(99)" style text for values outside the range.
QString FieldTypeName(TFieldType type);

// Types whose values are text (strings and text memos).
bool IsTextFieldType(TFieldType type);
// Types whose values are raw bytes (binary blobs and byte fields).
bool IsBinaryFieldType(TFieldType type);
// ftDate, ftTime, ftDateTime, ftTimeStamp.
bool IsDateTimeFieldType(TFieldType type);

// Column definition as a data packet carries it and the loaders read it.
struct TFieldDef {
  QString Name;
  TFieldType DataType = ftUnknown;
  int Size = 0;       // text length, or the scale of ftBCD / ftFMTBcd
  int Precision = 0;  // total digits of ftBCD / ftFMTBcd, precision of ftCurrency
  bool Required = false;
  bool ReadOnly = false;

  bool operator==(const TFieldDef&) const = default;
};
