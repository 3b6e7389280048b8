#include "DescriptorCheck.h"

#include <QHash>

#include "Identifiers.h"
#include "PacketLayout.h"

QString DescriptorError(const QStringList& descriptorLines) {
  if (descriptorLines.isEmpty()) return QStringLiteral("Празен файл с описание!");
  const QString& header = descriptorLines.first();
  if (!header.startsWith(QLatin1Char('{')) || !header.endsWith(QLatin1Char('}')))
    return QStringLiteral(
               "Първият ред на файла с описание \"%1\" трябва да съдържа версията на базата в "
               "скоби, например {2.1.0.15}, а съдържа \"%2\".")
        .arg(PacketLayout::kDescriptorFileName, header);
  if (descriptorLines.size() < 2)
    return QStringLiteral("Файлът с описание \"%1\" не съдържа нито една таблица.")
        .arg(PacketLayout::kDescriptorFileName);

  const QStringList& known = PacketLayout::PacketTables();
  QHash<QString, int> seenAt;  // table -> line number
  for (int i = 1; i < descriptorLines.size(); ++i) {
    const QString& table = descriptorLines.at(i);
    const int lineNo = i + 1;
    // The name ends up in SQL text: that refusal comes first, with its own words.
    if (!IsPlainIdentifier(table)) return PlainTableNameError(table);
    if (!known.contains(table))
      return QStringLiteral(
                 "Таблицата \"%1\" (ред %2 на файла с описание) не е от таблиците с "
                 "номенклатури, които се пренасят с пакет, и няма да бъде инсталирана.")
          .arg(table)
          .arg(lineNo);
    const auto seen = seenAt.constFind(table);
    if (seen != seenAt.cend())
      return QStringLiteral(
                 "Таблицата \"%1\" е описана повече от веднъж във файла с описание "
                 "(редове %2 и %3).")
          .arg(table)
          .arg(seen.value())
          .arg(lineNo);
    seenAt.insert(table, lineNo);
  }
  return QString();
}
