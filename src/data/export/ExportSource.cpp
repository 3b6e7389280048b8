#include "ExportSource.h"

#include "AppMiscQueries.h"
#include "DataModule.h"
#include "Identifiers.h"
#include "NompackError.h"
#include "Query.h"

namespace {

const QString kCountSql = QStringLiteral("SELECT COUNT(*) TOTAL_COUNT FROM %1;");
const QString kCrLf = QStringLiteral("\r\n");

// FireBird pages by "FIRST/SKIP".
class TFBExportSource : public TExportSource {
 public:
  explicit TFBExportSource(TDM& dm) : TExportSource(DataBaseType::FireBird, dm) {}

  // Expiry dates before the day-count origin do not survive the data packet;
  // the source itself is mended, permanently, before the export.
  void RepairSource() override {
    TQuery& query = PageQuery();
    query.Close();
    query.SetSQLText(QStringLiteral(
        "UPDATE PARCEL SET EXPIRY_DATE = '30.12.1899' WHERE EXPIRY_DATE < '30.12.1899';"));
    query.ExecSQL();
    DataModule().FBCommitRetaining();
  }

  QString PageStatement(int offset, int chunkSize) const override {
    return QString::asprintf("SELECT FIRST %d SKIP %d T.* FROM %s T", chunkSize, offset,
                             Table().toLatin1().constData());
  }
};

// MySQL pages by "LIMIT".
class TMySQLExportSource : public TExportSource {
 public:
  explicit TMySQLExportSource(TDM& dm) : TExportSource(DataBaseType::MySQL, dm) {}

  QString PageStatement(int offset, int chunkSize) const override {
    return QString::asprintf("SELECT T.* FROM %s T LIMIT %d, %d;", Table().toLatin1().constData(),
                             offset, chunkSize);
  }
};

// MSSQL pages by row numbers over ID, so a table without ID cannot be paged.
class TMSSQLExportSource : public TExportSource {
 public:
  explicit TMSSQLExportSource(TDM& dm) : TExportSource(DataBaseType::MSSQL, dm) {}

  void BeginTable(const QString& table) override {
    TExportSource::BeginTable(table);
    try {
      // One catalogue reading answers both the ID question and the column list.
      FTemplate = BuildMSSQLPageQuery(table, DataModule().MSSQLCon().ColumnNames(table));
    } catch (ENompackError& e) {
      e.AddContext(QStringLiteral("reading the columns of %1").arg(table));
      throw;
    }
    if (FTemplate.isEmpty())
      throw ENompackError(
          QStringLiteral("Таблица %1 няма колона ID, по която да бъде изнесена на части.")
              .arg(table));
  }

  QString PageStatement(int offset, int chunkSize) const override {
    const qint64 firstRow = qint64(offset) + 1;
    return FillMSSQLPageQuery(FTemplate, firstRow, firstRow + chunkSize - 1);
  }

 private:
  QString FTemplate;
};

}  // namespace

std::unique_ptr<TExportSource> MakeExportSource(DataBaseType kind, TDM& dm) {
  switch (kind) {
    case DataBaseType::MySQL:
      return std::make_unique<TMySQLExportSource>(dm);
    case DataBaseType::FireBird:
      return std::make_unique<TFBExportSource>(dm);
    case DataBaseType::MSSQL:
      break;
  }
  return std::make_unique<TMSSQLExportSource>(dm);
}

TQuery& TExportSource::PageQuery() const {
  switch (FKind) {
    case DataBaseType::FireBird:
      return FDM.IBQuery1();
    case DataBaseType::MySQL:
      return FDM.ADOQuery1();
    case DataBaseType::MSSQL:
      break;
  }
  return FDM.ADOQuery2();
}

int TExportSource::RowCount(const QString& table) {
  RequirePlainTableName(table);
  try {
    return OpenQuery(FDM, FKind, kCountSql.arg(table))
        ->FieldByName(QStringLiteral("TOTAL_COUNT"))
        .AsInteger();
  } catch (ENompackError& e) {
    e.AddContext(QStringLiteral("counting the rows of %1").arg(table));
    throw;
  }
}

QString TExportSource::DataVersion() {
  return GetDataVersion(FDM, FKind);
}

bool HasIDColumn(const QStringList& columns) {
  for (const QString& name : columns)
    if (name.toUpper() == QLatin1String("ID")) return true;
  return false;
}

QString BuildMSSQLPageQuery(const QString& table, const QStringList& columns) {
  if (!HasIDColumn(columns)) return QString();
  QStringList list;
  list.reserve(columns.size());
  for (const QString& name : columns) list.append(QStringLiteral("seq.") + name);
  return QStringLiteral("select ") + list.join(QStringLiteral(", ")) + QStringLiteral(" from ") +
         kCrLf + QStringLiteral("( ") + kCrLf + QStringLiteral("select ") + kCrLf +
         QStringLiteral("  T.*, ROW_NUMBER() OVER (ORDER BY ") + QStringLiteral("ID") +
         QStringLiteral(") rownum ") + kCrLf + QStringLiteral("from ") + table +
         QStringLiteral(" T ") + kCrLf + QStringLiteral(") seq ") + kCrLf +
         QStringLiteral("WHERE seq.rownum between %d and %d ");
}

// Column names come before the two placeholders and are not searched.
QString FillMSSQLPageQuery(const QString& pageTemplate, qint64 firstRow, qint64 lastRow) {
  QString sql = pageTemplate;
  const qsizetype second = sql.lastIndexOf(QStringLiteral("%d"));
  const qsizetype first = second > 0 ? sql.lastIndexOf(QStringLiteral("%d"), second - 1) : -1;
  if (first < 0) return sql;
  sql.replace(second, 2, QString::number(lastRow));
  sql.replace(first, 2, QString::number(firstRow));
  return sql;
}
