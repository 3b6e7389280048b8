#include "TargetShapeCheck.h"

#include "ColumnReconciliation.h"
#include "PacketCheck.h"

namespace {

const QString kUnchanged =
    QStringLiteral("Пакетът не е инсталиран и данните в базата не са променени.");

}  // namespace

QString TargetShapeError(TPacketContents& contents, const TTargetCatalogue& catalogue) {
  const Qt::CaseSensitivity tableCase =
      catalogue.TableCaseMatters ? Qt::CaseSensitive : Qt::CaseInsensitive;
  for (TPacketTable& table : contents.Tables) {
    table.MissingColumns.clear();
    if (!catalogue.Tables.contains(table.Name, tableCase))
      return QStringLiteral(
                 "Таблицата %1 от пакета липсва в базата данни, в която се инсталира. %2")
          .arg(table.Name, kUnchanged);
    if (table.Columns.isEmpty()) continue;
    const QStringList existing = catalogue.ColumnsOf(table.Name);
    for (const TPacketColumn& column : table.Columns) {
      const QString& name = column.Def.Name;
      if (existing.contains(name, Qt::CaseInsensitive)) continue;
      if (catalogue.LeftOut && catalogue.LeftOut(name)) continue;
      if (!catalogue.AddsMissingColumns)
        return QStringLiteral(
                   "Таблицата %1 в базата данни няма колона %2, която е във файла \"%3\" на "
                   "пакета. %4")
            .arg(table.Name, name, column.ChunkFile, kUnchanged);
      // An "alter table" with no type would be refused once the target is
      // already being changed.
      if (TColumnReconciliation::GetMySQLColumnType(column.Def) ==
          QLatin1String("unsupported field type"))
        return QStringLiteral(
                   "Таблицата %1 в базата данни няма колона %2 (от файла \"%3\"), а типът ѝ в "
                   "пакета не може да бъде създаден в MySQL. %4")
            .arg(table.Name, name, column.ChunkFile, kUnchanged);
      table.MissingColumns.append(column.Def);
    }
  }
  return QString();
}
