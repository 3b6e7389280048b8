#pragma once

#include <ibase.h>

#include "FieldType.h"

// How Firebird column types become field definitions and values, and how a
// parameter is sent for the type the server describes for it.

enum class TFBRead {
  Int,
  Scaled,
  Double,
  Date,
  Time,
  TimeStamp,
  Text,
  Octets,
  BlobText,
  BlobBinary,
  Boolean,
  Unsupported,  // arrays and what else the table has no row for
};

struct TFBColumn {
  TFieldDef Def;
  TFBRead Read = TFBRead::Text;
  int Scale = 0;                // digits after the point of scaled integers
  bool Varying = false;         // SQL_VARYING: two length bytes lead the data
  bool NeedsPrecision = false;  // NUMERIC/DECIMAL: the catalogue knows the declared precision
};

// `bytesPerChar` is the longest character of the session's character set.
TFBColumn DescribeFBColumn(const XSQLVAR& var, int bytesPerChar);

enum class TFBSend {
  Text,
  Octets,
  Scaled,
  Double,
  Date,
  Time,
  TimeStamp,
  BlobText,
  BlobBinary,
  Boolean
};
// What a value for a parameter the server described so is sent as.
TFBSend FBSendFor(const XSQLVAR& described);

// Days between 17.11.1858, where Firebird counts dates from, and 30.12.1899.
constexpr int kFBDateOffset = 15018;
