#include "AppMiscQueries.h"

#include "AppView.h"
#include "DataModule.h"
#include "NompackError.h"

namespace {

const QString kVersionSql =
    QStringLiteral("SELECT VER_MAJOR, VER_MINOR, VER_RELEASE, VER_BUILD FROM COMPANY_DATA;");

}  // namespace

std::unique_ptr<TQuery> CreateQuery(TDM& dm, DataBaseType kind, const QString& SQLText) {
  auto query = std::make_unique<TQuery>(dm, kind);
  query->SetSQLText(SQLText);
  return query;
}

std::unique_ptr<TQuery> OpenQuery(TDM& dm, DataBaseType kind, const QString& SQLText) {
  auto query = CreateQuery(dm, kind, SQLText);
  query->Open();
  return query;
}

std::unique_ptr<TQuery> CreateFBQuery(TDM& dm, const QString& SQLText) {
  return CreateQuery(dm, DataBaseType::FireBird, SQLText);
}

std::unique_ptr<TQuery> OpenFBQuery(TDM& dm, const QString& SQLText) {
  return OpenQuery(dm, DataBaseType::FireBird, SQLText);
}

void ExecFBSQL(TDM& dm, const QString& SQLText) {
  dm.FBMainDatabase().Execute(SQLText);
}

std::unique_ptr<TQuery> CreateMySQLQuery(TDM& dm, const QString& SQLText) {
  return CreateQuery(dm, DataBaseType::MySQL, SQLText);
}

std::unique_ptr<TQuery> OpenMySQLQuery(TDM& dm, const QString& SQLText) {
  return OpenQuery(dm, DataBaseType::MySQL, SQLText);
}

bool ExecMySQLSQL(TDM& dm, const QString& SQLText) {
  try {
    dm.MySQLCon().Execute(SQLText);
    return true;
  } catch (const ENompackError& e) {
    dm.View().ShowError(e.Message());
  } catch (const std::exception& e) {
    dm.View().ShowError(QString::fromLocal8Bit(e.what()));
  } catch (...) {
    dm.View().ShowError(QStringLiteral("Unknown error"));
  }
  return false;
}

std::unique_ptr<TQuery> CreateMSSQLQuery(TDM& dm, const QString& SQLText) {
  return CreateQuery(dm, DataBaseType::MSSQL, SQLText);
}

std::unique_ptr<TQuery> OpenMSSQLQuery(TDM& dm, const QString& SQLText) {
  return OpenQuery(dm, DataBaseType::MSSQL, SQLText);
}

QString GetDataVersion(TDM& dm, DataBaseType kind) {
  const auto query = OpenQuery(dm, kind, kVersionSql);
  return QString::asprintf("%d.%d.%d.%d",
                           query->FieldByName(QStringLiteral("VER_MAJOR")).AsInteger(),
                           query->FieldByName(QStringLiteral("VER_MINOR")).AsInteger(),
                           query->FieldByName(QStringLiteral("VER_RELEASE")).AsInteger(),
                           query->FieldByName(QStringLiteral("VER_BUILD")).AsInteger());
}

QString GetFBDataVersion(TDM& dm) {
  return GetDataVersion(dm, DataBaseType::FireBird);
}
QString GetMySQLDataVersion(TDM& dm) {
  return GetDataVersion(dm, DataBaseType::MySQL);
}
QString GetMSSQLDataVersion(TDM& dm) {
  return GetDataVersion(dm, DataBaseType::MSSQL);
}
