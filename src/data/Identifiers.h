#pragma once

#include <QString>

// Table and column names reach SQL text unquoted: the export's table list,
// a packet's descriptor lines and its chunk field definitions alike. Only
// plain identifiers may get there: a Latin letter or "_" first, then Latin
// letters, digits, "_" or "$".
bool IsPlainIdentifier(const QString& name);
// The message for a table name that is no plain identifier.
QString PlainTableNameError(const QString& table);
// ENompackError with that message when the name is no plain identifier.
void RequirePlainTableName(const QString& table);
// The same for a column of a table.
QString PlainColumnNameError(const QString& table, const QString& column);
void RequirePlainColumnName(const QString& table, const QString& column);
