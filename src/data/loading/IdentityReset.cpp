#include "IdentityReset.h"

#include "AppMiscQueries.h"
#include "DataModule.h"
#include "Identifiers.h"

bool TIdentityReset::MySQLHasAutoIncrement(const QString& table) {
  const auto query = CreateMySQLQuery(
      FDM, QStringLiteral(
               "SELECT \r\n"
               "  COUNT(T.TABLE_NAME) CHECK_COUNT \r\n"
               "FROM information_schema.TABLES T \r\n"
               "WHERE (T.TABLE_TYPE = 'BASE TABLE') AND (T.AUTO_INCREMENT IS NOT NULL) AND \r\n"
               "    (T.TABLE_SCHEMA = :database_name) AND (T.TABLE_NAME = :table_name);"));
  SetStringParam(*query, QStringLiteral("database_name"), FDM.MySQLDefaultDatabase());
  SetStringParam(*query, QStringLiteral("table_name"), table);
  query->Open();
  return query->FieldByName(QStringLiteral("CHECK_COUNT")).AsInteger() > 0;
}

void TIdentityReset::SetNoAutoValueOnZero() {
  ExecMySQLSQL(FDM, QStringLiteral("SET sql_mode = 'NO_AUTO_VALUE_ON_ZERO ';"));
}

qint64 TIdentityReset::GetMySQLMaxId(const QString& table) {
  RequirePlainTableName(table);
  const auto query =
      OpenMySQLQuery(FDM, QStringLiteral("SELECT MAX(ID) MAX_ID FROM %1;").arg(table));
  return query->FieldByName(QStringLiteral("MAX_ID")).AsLargeInt();
}

void TIdentityReset::ResetMySQLAutoIncrement(const QString& table) {
  const qint64 maxId = GetMySQLMaxId(table);
  ExecMySQLSQL(FDM, QStringLiteral("ALTER TABLE %1 AUTO_INCREMENT=%2;").arg(table).arg(maxId));
}

bool TIdentityReset::FBGeneratorExists(const QString& table) {
  const auto query = CreateFBQuery(
      FDM,
      QStringLiteral("SELECT RG.RDB$GENERATOR_NAME GENERATOR_NAME \r\n"
                     " FROM RDB$GENERATORS RG \r\n"
                     "WHERE (COALESCE(RG.RDB$SYSTEM_FLAG, 0) = 0) AND (RG.RDB$GENERATOR_NAME = "
                     ":GEN_NAME)"));
  SetStringParam(*query, QStringLiteral("GEN_NAME"), table + QStringLiteral("_ID"));
  query->Open();
  return !query->IsEmpty();
}

qint64 TIdentityReset::GetFBMaxId(const QString& table) {
  RequirePlainTableName(table);
  const auto query = OpenFBQuery(FDM, QStringLiteral("SELECT MAX(ID) MAX_ID FROM %1;").arg(table));
  return query->FieldByName(QStringLiteral("MAX_ID")).AsLargeInt();
}

void TIdentityReset::ResetFBGenerator(const QString& table) {
  const qint64 maxId = GetFBMaxId(table);
  ExecFBSQL(FDM, QStringLiteral("SET GENERATOR %1_ID TO %2;").arg(table).arg(maxId));
}
