#pragma once

#include <sql.h>
#include <sqlext.h>

#include "FieldType.h"

// How ODBC SQL types become field definitions and values, and how parameters
// of each field type travel to the driver.

enum class TODBCRead { Int, Bit, Double, Decimal, Date, Time, TimeStamp, Text, Bytes };

struct TODBCColumn {
  TFieldDef Def;
  TODBCRead Read = TODBCRead::Text;
};

// From SQLDescribeCol: the SQL type, column size and decimal digits.
TODBCColumn DescribeODBCColumn(SQLSMALLINT sqlType, SQLULEN columnSize, SQLSMALLINT decimalDigits);

enum class TODBCSend {
  Text,
  Int16,
  Int32,
  Int64,
  Bit,
  Double,
  Decimal,
  Date,
  Time,
  TimeStamp,
  Binary,
  None
};
TODBCSend ODBCSendFor(TFieldType type);

// SQL Server types that ODBC's headers do not name.
constexpr SQLSMALLINT kSqlSsTime2 = -154;
constexpr SQLSMALLINT kSqlSsTimestampOffset = -155;
