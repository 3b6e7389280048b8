#include "Cleanup.h"

#include "AppMiscQueries.h"
#include "AppView.h"
#include "DataModule.h"
#include "Identifiers.h"
#include "LoadTarget.h"
#include "NompackError.h"
#include "PacketCheck.h"
#include "QBMisc.h"

const QString& TCleanup::DocumentTables() {
  static const QString tables = QStringLiteral(
      "DENIAL\r\nCONSIGN_REPORT\r\nPRESCRIPTION_ITEM\r\nPRESCRIPTION\r\nSALE_COR_ITEM\r\n"
      "SALE_COR\r\nSALE_PAYMENT\r\nSALE_ITEM\r\nPRESCRIPTION_SALE\r\nSALE\r\nDRUG_SALE\r\n"
      "PAYMENT\r\nINVENTORY_FULL_INFO\r\nSALE_PRICE_COR_ITEM\r\nSALE_PRICE_COR\r\n"
      "INV_COR_ITEM\r\nINV_COR\r\nDELIVERY_ORDER_ITEM\r\nDELIVERY_ORDER\r\nDELIVERY_ITEM\r\n"
      "DELIVERY\r\nPARCEL\r\nEXPENSE\r\nRZOK_COR_INVOICE\r\nRZOK_INVOICE\r\nDELETED_ITEM");
  return tables;
}

// MySQL ------------------------------------------------------------------------

bool TCleanup::PrepareMySQLTarget(const QString& descriptorPath, QString& errorText) {
  try {
    FView.ShowInstallProgress(QStringLiteral("Изтриване на таблици с репл.данни от обекти..."), 0,
                              100);
    DropMySQLReplicaTables();
  } catch (const ENompackError& e) {
    errorText = e.Message();
    return false;
  }
  return ClearMySQLTarget(descriptorPath, errorText);
}

bool TCleanup::ClearMySQLTarget(const QString& descriptorPath, QString& errorText) {
  try {
    FView.ShowInstallProgress(QStringLiteral("Изтриване на таблици с документи..."), 0, 100);
    ClearMySQLDocuments();
    FView.ShowInstallProgress(QStringLiteral("Изтриване на таблици с номенклатури..."), 0, 100);
    ClearMySQLNomenclature(descriptorPath);
    return true;
  } catch (const ENompackError& e) {
    errorText = e.Message();
    return false;
  }
}

QStringList TCleanup::GetMySQLTableNames() {
  QStringList names;
  for (const IConnection::TableEntry& entry : FDM.MySQLCon().Tables()) {
    if (entry.Type == QLatin1String("TABLE") || entry.Type == QLatin1String("VIEW"))
      names.append(entry.Name);
  }
  return names;
}

bool TCleanup::IsReplicaTableName(const QString& name) {
  const int p = LastCharPos(QLatin1Char('_'), name, 0);
  if (p == 0) return false;
  return IsDigits(name.mid(p));
}

void TCleanup::DropMySQLReplicaTables() {
  // The names come from the target's own catalogue; one that would need
  // quoting is still not put into SQL text as it stands.
  for (const QString& name : GetMySQLTableNames()) {
    if (IsReplicaTableName(name)) ExecMySQLTableSQL(QStringLiteral("DROP TABLE %1;"), name);
  }
}

void TCleanup::ExecMySQLTableSQL(const QString& format, const QString& table) {
  if (!IsPlainIdentifier(table)) {
    if (FTarget) RequirePlainTableName(table);
    FView.ShowError(PlainTableNameError(table));
    return;
  }
  ExecTableStatement(table, format.arg(table), true);
}

void TCleanup::ExecTableStatement(const QString& table, const QString& sql, bool mysql) {
  ThrowIfStopRequested(FView);
  if (FTarget) {
    FTarget->ExecOnTable(table, sql);
  } else if (mysql) {
    ExecMySQLSQL(FDM, sql);
  } else {
    ExecFBSQL(FDM, sql);
  }
}

void TCleanup::CommitTable() {
  // An installation commits once, after the last table is loaded.
  if (!FTarget) FDM.FBCommitRetaining();
}

void TCleanup::ClearMySQLDocuments() {
  const QStringList tables = DocumentTables().split(QStringLiteral("\r\n"));
  for (const QString& table : tables)
    ExecTableStatement(table, QStringLiteral("DELETE FROM %1;").arg(table), true);
}

void TCleanup::ClearMySQLNomenclature(const QString& descriptorPath) {
  const QStringList tables = LoadDescriptorTables(descriptorPath);
  for (qsizetype i = tables.size() - 1; i >= 0; --i)
    ExecMySQLTableSQL(QStringLiteral("DELETE FROM %1;"), tables[i]);
}

// FireBird ---------------------------------------------------------------------

bool TCleanup::PrepareFBTarget(QString& errorText) {
  try {
    ExecTableStatement(QStringLiteral("ARTICLE_CENTRAL_LOCK"),
                       QStringLiteral("DELETE FROM ARTICLE_CENTRAL_LOCK;"), false);
    ExecTableStatement(QStringLiteral("SP_CLEANUP_DB"),
                       QStringLiteral("EXECUTE PROCEDURE SP_CLEANUP_DB;"), false);
    CommitTable();
    return true;
  } catch (const ENompackError& e) {
    errorText = e.Message();
    try {
      FDM.FBRollbackRetaining();
    } catch (const ENompackError& rollback) {
      errorText += QStringLiteral("\r\n") + rollback.Message();
    }
    return false;
  }
}

bool TCleanup::ClearFBNomenclature(const QString& descriptorPath, QString& errorText) {
  try {
    const QStringList tables = LoadDescriptorTables(descriptorPath);
    for (qsizetype i = tables.size() - 1; i >= 0; --i) {
      const QString& table = tables[i];
      RequirePlainTableName(table);
      // Child rows first: the parent column references the same table.
      if (table == QLatin1String("EXPENSE_TYPE"))
        ExecTableStatement(
            table, QStringLiteral("DELETE FROM EXPENSE_TYPE WHERE PARENT_ID IS NOT NULL;"), false);
      ExecTableStatement(table, QStringLiteral("DELETE FROM %1;").arg(table), false);
      CommitTable();
    }
    return true;
  } catch (const ENompackError& e) {
    errorText = e.Message();
    return false;
  }
}
