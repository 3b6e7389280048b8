#include "Identifiers.h"

#include "NompackError.h"

namespace {

const QString kAllowedCharacters = QStringLiteral(
    "позволени са само латински букви, цифри, \"_\" и \"$\", като първият знак е буква или \"_\"");

bool IsLatinLetter(QChar c) {
  return (c >= QLatin1Char('A') && c <= QLatin1Char('Z')) ||
         (c >= QLatin1Char('a') && c <= QLatin1Char('z'));
}

}  // namespace

bool IsPlainIdentifier(const QString& name) {
  if (name.isEmpty()) return false;
  if (!IsLatinLetter(name[0]) && name[0] != QLatin1Char('_')) return false;
  for (const QChar c : name) {
    if (!IsLatinLetter(c) && !(c >= QLatin1Char('0') && c <= QLatin1Char('9')) &&
        c != QLatin1Char('_') && c != QLatin1Char('$'))
      return false;
  }
  return true;
}

QString PlainTableNameError(const QString& table) {
  return QStringLiteral("Невалидно име на таблица \"%1\": %2.").arg(table, kAllowedCharacters);
}

void RequirePlainTableName(const QString& table) {
  if (!IsPlainIdentifier(table)) throw ENompackError(PlainTableNameError(table));
}

QString PlainColumnNameError(const QString& table, const QString& column) {
  return QStringLiteral("Невалидно име на колона \"%1\" в таблица %2: %3.")
      .arg(column, table, kAllowedCharacters);
}

void RequirePlainColumnName(const QString& table, const QString& column) {
  if (!IsPlainIdentifier(column)) throw ENompackError(PlainColumnNameError(table, column));
}
