#include "ExportSource.h"

#include "AppMiscQueries.h"
#include "DataModule.h"
#include "Identifiers.h"
#include "NompackError.h"
#include "Query.h"

namespace {

const QString kCountSql = QStringLiteral("SELECT COUNT(*) TOTAL_COUNT FROM %1;");
const QString kCrLf = QStringLiteral("\r\n");

// FireBird reads in the server's scan order.
class TFBExportSource : public TExportSource {
 public:
  explicit TFBExportSource(TDM& dm) : TExportSource(DataBaseType::FireBird, dm) {}

  // Expiry dates before the day-count origin do not survive the data packet;
  // the source itself is mended, permanently, before the export.
  void RepairSource() override {
    TQuery& query = DataModule().IBQuery1();
    query.Close();
    query.SetSQLText(QStringLiteral(
        "UPDATE PARCEL SET EXPIRY_DATE = '30.12.1899' WHERE EXPIRY_DATE < '30.12.1899';"));
    query.ExecSQL();
    DataModule().FBCommitRetaining();
  }

  QString ReadStatement() const override {
    return QStringLiteral("SELECT T.* FROM %1 T").arg(Table());
  }
};

// MySQL reads in the server's scan order (the primary key's for InnoDB).
class TMySQLExportSource : public TExportSource {
 public:
  explicit TMySQLExportSource(TDM& dm) : TExportSource(DataBaseType::MySQL, dm) {}

  QString ReadStatement() const override {
    return QStringLiteral("SELECT T.* FROM %1 T;").arg(Table());
  }
};

// MSSQL reads ordered by ID, so that chunk files follow the same order
// whatever plan the server picks; a table without ID is refused.
class TMSSQLExportSource : public TExportSource {
 public:
  explicit TMSSQLExportSource(TDM& dm) : TExportSource(DataBaseType::MSSQL, dm) {}

  void BeginTable(const QString& table) override {
    TExportSource::BeginTable(table);
    try {
      // One catalogue reading answers both the ID question and the column list.
      FStatement = BuildMSSQLReadStatement(table, DataModule().MSSQLCon().ColumnNames(table));
    } catch (ENompackError& e) {
      e.AddContext(QStringLiteral("reading the columns of %1").arg(table));
      throw;
    }
    if (FStatement.isEmpty())
      throw ENompackError(
          QStringLiteral("Таблица %1 няма колона ID, по която да бъде изнесена на части.")
              .arg(table));
  }

  QString ReadStatement() const override { return FStatement; }

 private:
  QString FStatement;
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

IConnection& TExportSource::Connection() const {
  return FDM.Connection(FKind);
}

int TExportSource::RowCount(const QString& table) {
  RequirePlainTableName(table);
  try {
    // Through a cursor: on Firebird only cursors read in the snapshot.
    const std::unique_ptr<ICursor> cursor = Connection().OpenCursor(kCountSql.arg(table));
    QVector<Variant> values;
    if (!cursor->Next(values) || values.isEmpty())
      throw ENompackError(QStringLiteral("The row count of %1 gave no row").arg(table),
                          ENompackError::Kind::Database);
    cursor->Close();
    return int(values.at(0).ToInt64());
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

QString BuildMSSQLReadStatement(const QString& table, const QStringList& columns) {
  if (!HasIDColumn(columns)) return QString();
  QStringList list;
  list.reserve(columns.size());
  for (const QString& name : columns) list.append(QStringLiteral("T.") + name);
  return QStringLiteral("SELECT %1 FROM %2 T ORDER BY ID")
      .arg(list.join(QStringLiteral(", ")), table);
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
