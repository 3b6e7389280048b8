#pragma once

#include <mysql.h>

#include "MySQLTypeMap.h"
#include "Variant.h"

// Values of result columns in the form their field type holds, from the text
// protocol (plain statements) and from the binary one (prepared statements).
namespace MySQLValues {

Variant FromText(const TMySQLColumn& column, const char* data, unsigned long length);
Variant FromTime(const TMySQLColumn& column, const MYSQL_TIME& t);
Variant FromInt(const TMySQLColumn& column, qint64 value, bool isUnsigned);

// MYSQL_TIME of a date-time for a parameter of that type (DATE, TIME, DATETIME).
MYSQL_TIME ToTime(TDateTime value, enum_field_types type);

}  // namespace MySQLValues
