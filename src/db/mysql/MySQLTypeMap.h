#pragma once

#include <mysql.h>

#include "FieldType.h"

// How MySQL column types become field definitions and values, and how
// parameters of each field type travel to the server.

// The decoder a column's values go through.
enum class TMySQLRead { Int, UInt, Double, Decimal, Date, Time, DateTime, Text, Bytes, Bit };

struct TMySQLColumn {
  TFieldDef Def;
  TMySQLRead Read = TMySQLRead::Text;
};

// The field definition of a result column. `charsetMaxLen` is the bytes per
// character of the session's character set (1 for Windows-1251).
TMySQLColumn DescribeMySQLColumn(const MYSQL_FIELD& field, unsigned charsetMaxLen);

// The buffer type a parameter of that field type is sent as; MYSQL_TYPE_NULL
// for field types that cannot be sent.
enum_field_types MySQLBindType(TFieldType type);
