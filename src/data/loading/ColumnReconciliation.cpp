#include "ColumnReconciliation.h"

#include "AppMiscQueries.h"
#include "AppView.h"
#include "ClientDataSet.h"
#include "DataModule.h"
#include "Identifiers.h"

void TColumnReconciliation::AddMissingMySQLColumns(const QString& table,
                                                   const TClientDataSet& chunk, bool& reconciled) {
  AddMissingMySQLColumns(table, chunk.FieldDefs());
  reconciled = true;
}

void TColumnReconciliation::AddMissingMySQLColumns(const QString& table,
                                                   const QVector<TFieldDef>& columns) {
  if (columns.isEmpty()) return;
  // One catalogue reading for the table, not one per chunk column; MySQL
  // column names ignore letter case, as the catalogue's comparison does.
  QStringList existing = FDM.MySQLCon().ColumnNames(table);
  for (const TFieldDef& def : columns) {
    if (existing.contains(def.Name, Qt::CaseInsensitive)) continue;
    // Names from the packet reach the statement unquoted: only plain ones
    // do; any other gets the error box the refused statement would get.
    if (!IsPlainIdentifier(table)) {
      FView.ShowError(PlainTableNameError(table));
      continue;
    }
    if (!IsPlainIdentifier(def.Name)) {
      FView.ShowError(PlainColumnNameError(table, def.Name));
      continue;
    }
    if (ExecMySQLSQL(FDM, QStringLiteral("alter table %1 add %2 %3")
                              .arg(table, def.Name, GetMySQLColumnType(def))))
      existing.append(def.Name);
  }
}

bool TColumnReconciliation::MySQLColumnExists(const QString& table, const QString& column) {
  const auto query = CreateMySQLQuery(
      FDM,
      QStringLiteral("SELECT * FROM information_schema.COLUMNS WHERE \r\n"
                     "TABLE_SCHEMA = DATABASE() AND TABLE_NAME = :TABLE_NAME AND COLUMN_NAME = "
                     ":COLUMN_NAME"));
  SetStringParam(*query, QStringLiteral("TABLE_NAME"), table);
  SetStringParam(*query, QStringLiteral("COLUMN_NAME"), column);
  query->Open();
  return !query->IsEmpty();
}

QString TColumnReconciliation::GetMySQLColumnType(const TFieldDef& column) {
  switch (column.DataType) {
    case ftString:
    case ftWideString:
      return QStringLiteral("varchar(%1)").arg(column.Size);
    case ftFixedChar:
      return QStringLiteral("char(%1)").arg(column.Size);
    case ftSmallint:
      return QStringLiteral("smallint");
    case ftInteger:
    case ftWord:
      return QStringLiteral("int");
    // 64-bit values need 64 bits: "int" would refuse or cut every value
    // beyond 32 bits.
    case ftLargeint:
      return QStringLiteral("bigint");
    case ftBoolean:
      return QStringLiteral("bit");
    case ftFloat:
      return QStringLiteral("double precision");
    // The fixed point of a currency value: four decimals in 64 bits. The
    // numeric text of the BCD rule would come out as numeric(0,15) here,
    // which the server refuses.
    case ftCurrency:
      return QStringLiteral("decimal(19,4)");
    case ftBCD:
      return QStringLiteral("numeric(%1,%2)").arg(column.Precision).arg(column.Size);
    case ftDate:
    case ftTime:
    case ftDateTime:
      return QStringLiteral("datetime");
    // "binary" alone is one byte wide; a blob column holds the whole value.
    case ftBlob:
    case ftGraphic:
      return QStringLiteral("longblob");
    case ftMemo:
    case ftFmtMemo:
      return QStringLiteral("text");
    default:
      break;
  }
  return QStringLiteral("unsupported field type");
}
