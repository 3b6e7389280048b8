#include "DataModuleExport.h"

#include <QRegularExpression>
#include <QSet>

#include "AppMiscQueries.h"
#include "AppView.h"
#include "ClientDataSet.h"
#include "NompackError.h"
#include "PacketLayout.h"

namespace {

const QString kCountSql = QStringLiteral("SELECT COUNT(*) TOTAL_COUNT FROM %1;");
const QString kCrLf = QStringLiteral("\r\n");

QString ExportContext(const QString& table, int chunkNo) {
  return QStringLiteral("exporting %1, chunk %2").arg(table).arg(chunkNo);
}

// The template's two placeholders are its last two "%d": column names come
// before them and are not searched.
QString FillMSSQLPageQuery(const QString& pageTemplate, qint64 firstRow, qint64 lastRow) {
  QString sql = pageTemplate;
  const qsizetype second = sql.lastIndexOf(QStringLiteral("%d"));
  const qsizetype first = second > 0 ? sql.lastIndexOf(QStringLiteral("%d"), second - 1) : -1;
  if (first < 0) return sql;
  sql.replace(second, 2, QString::number(lastRow));
  sql.replace(first, 2, QString::number(firstRow));
  return sql;
}

// Remembers the IDs of a table's pages, so that a row returned by two pages
// (paging without an ordering over rows that moved) is caught.
class TIdTracker {
 public:
  // The value already seen, as text; empty when every ID of the page is new.
  QString AddPage(const TClientDataSet& page) {
    const int field = page.FindField(QStringLiteral("ID"));
    if (field < 0) return QString();
    for (const QVector<Variant>& row : page.Rows()) {
      const Variant& id = row.at(field);
      if (id.IsNullOrEmpty()) continue;
      if (id.IsInteger()) {
        const qint64 value = id.ToInt64();
        if (FInts.contains(value)) return QString::number(value);
        FInts.insert(value);
      } else {
        const QString value = id.ToString();
        if (FTexts.contains(value)) return value;
        FTexts.insert(value);
      }
    }
    return QString();
  }

 private:
  QSet<qint64> FInts;
  QSet<QString> FTexts;
};

}  // namespace

void CheckTableName(const QString& TableName) {
  static const QRegularExpression identifier(QStringLiteral("^[A-Za-z_][A-Za-z0-9_]*$"));
  if (!identifier.match(TableName).hasMatch())
    throw ENompackError(QStringLiteral("Невалидно име на таблица: \"%1\".").arg(TableName));
}

void SaveDataSetToXML(const TClientDataSet& DataSet, const QString& FileName) {
  if (DataSet.RecNo() <= 1) {
    DataSet.SaveToFile(FileName, TDataPacketFormat::SingleByte);
    return;
  }
  // Rows before the current one are not part of the packet.
  TClientDataSet rest;
  for (const TFieldDef& def : DataSet.FieldDefs()) rest.AddFieldDef(def);
  const auto& rows = DataSet.Rows();
  for (int i = DataSet.RecNo() - 1; i < rows.size(); ++i) rest.AppendRow(rows.at(i));
  rest.SaveToFile(FileName, TDataPacketFormat::SingleByte);
}

TExporter::TExporter(TDM& dm, IAppView& view)
    : FDM(dm), FView(view), FChunkWriter(&SaveDataSetToXML) {}

TQuery& TExporter::PageQuery(TDMConnectionKind kind) const {
  switch (kind) {
    case TDMConnectionKind::FireBird:
      return FDM.IBQuery1();
    case TDMConnectionKind::MySQL:
      return FDM.ADOQuery1();
    case TDMConnectionKind::MSSQL:
      break;
  }
  return FDM.ADOQuery2();
}

int TExporter::GetRowCount(TDMConnectionKind kind, const QString& TableName) {
  CheckTableName(TableName);
  const QString sql = kCountSql.arg(TableName);
  try {
    std::unique_ptr<TQuery> query;
    switch (kind) {
      case TDMConnectionKind::FireBird:
        query = OpenFBQuery(sql);
        break;
      case TDMConnectionKind::MySQL:
        query = OpenMySQLQuery(sql);
        break;
      case TDMConnectionKind::MSSQL:
        query = OpenMSSQLQuery(sql);
        break;
    }
    return query->FieldByName(QStringLiteral("TOTAL_COUNT")).AsInteger();
  } catch (ENompackError& e) {
    e.AddContext(QStringLiteral("counting the rows of %1").arg(TableName));
    throw;
  }
}

int TExporter::GetFBRowCount(const QString& TableName) {
  return GetRowCount(TDMConnectionKind::FireBird, TableName);
}

int TExporter::GetMySQLRowCount(const QString& TableName) {
  return GetRowCount(TDMConnectionKind::MySQL, TableName);
}

int TExporter::GetMSSQLRowCount(const QString& TableName) {
  return GetRowCount(TDMConnectionKind::MSSQL, TableName);
}

QStringList TExporter::GetMSSQLFieldNames(const QString& TableName) {
  CheckTableName(TableName);
  return FDM.MSSQLCon().ColumnNames(TableName);
}

namespace {

bool HasIDColumn(const QStringList& columns) {
  for (const QString& name : columns)
    if (name.toUpper() == QLatin1String("ID")) return true;
  return false;
}

}  // namespace

bool TExporter::MSSQLTableHasID(const QString& TableName) {
  return HasIDColumn(GetMSSQLFieldNames(TableName));
}

QString TExporter::BuildMSSQLPageQuery(const QString& TableName) {
  // One catalogue reading answers both the ID question and the column list.
  const QStringList columns = GetMSSQLFieldNames(TableName);
  if (!HasIDColumn(columns)) return QString();
  QStringList list;
  list.reserve(columns.size());
  for (const QString& name : columns) list.append(QStringLiteral("seq.") + name);
  return QStringLiteral("select ") + list.join(QStringLiteral(", ")) + QStringLiteral(" from ") +
         kCrLf + QStringLiteral("( ") + kCrLf + QStringLiteral("select ") + kCrLf +
         QStringLiteral("  T.*, ROW_NUMBER() OVER (ORDER BY ") + QStringLiteral("ID") +
         QStringLiteral(") rownum ") + kCrLf + QStringLiteral("from ") + TableName +
         QStringLiteral(" T ") + kCrLf + QStringLiteral(") seq ") + kCrLf +
         QStringLiteral("WHERE seq.rownum between %d and %d ");
}

void TExporter::WriteChunk(const TClientDataSet& page, const QString& fileName) {
  // A chunk file that cannot be written now (a virus scanner holding it, a
  // network folder hiccup) is tried again at once, silently.
  for (int attempt = 1;; ++attempt) {
    try {
      FChunkWriter(page, fileName);
      return;
    } catch (const ENompackError& e) {
      if (attempt >= kWriteAttempts) throw ENompackError(e.Message(), e.ErrorKind());
    } catch (const std::exception& e) {
      if (attempt >= kWriteAttempts) throw ENompackError(QString::fromLocal8Bit(e.what()));
    }
  }
}

void TExporter::ExportTable(TDMConnectionKind kind, const QString& TableName, const QString& Folder,
                            int ChunkSize, int& RowsDone) {
  RowsDone = 0;
  CheckTableName(TableName);
  if (ChunkSize <= 0)
    throw ENompackError(QStringLiteral("Invalid chunk size %1").arg(ChunkSize),
                        ENompackError::Kind::Assertion);
  int ChunkNo = 1;
  int Offset = 0;
  qint64 FirstRow = 1;
  const int Total = GetRowCount(kind, TableName);
  QString pageTemplate;
  if (kind == TDMConnectionKind::MSSQL) {
    try {
      pageTemplate = BuildMSSQLPageQuery(TableName);
    } catch (ENompackError& e) {
      e.AddContext(QStringLiteral("reading the columns of %1").arg(TableName));
      throw;
    }
    // Without an ID nothing orders the rows into pages.
    if (pageTemplate.isEmpty())
      throw ENompackError(
          QStringLiteral("Таблица %1 няма колона ID, по която да бъде изнесена на части.")
              .arg(TableName));
  }
  const QByteArray tableBytes = TableName.toLatin1();
  TQuery& query = PageQuery(kind);
  TIdTracker ids;
  for (;;) {
    query.Close();
    QString sql;
    switch (kind) {
      case TDMConnectionKind::FireBird:
        sql = QString::asprintf("SELECT FIRST %d SKIP %d T.* FROM %s T", ChunkSize, Offset,
                                tableBytes.constData());
        break;
      case TDMConnectionKind::MySQL:
        sql = QString::asprintf("SELECT T.* FROM %s T LIMIT %d, %d;", tableBytes.constData(),
                                Offset, ChunkSize);
        break;
      case TDMConnectionKind::MSSQL:
        sql = FillMSSQLPageQuery(pageTemplate, FirstRow, FirstRow + ChunkSize - 1);
        break;
    }
    query.SetSQLText(sql);
    if (FPageStatementObserver) FPageStatementObserver(sql);
    try {
      query.Open();
    } catch (ENompackError& e) {
      e.AddContext(ExportContext(TableName, ChunkNo));
      throw;
    }
    if (query.IsEmpty()) break;
    query.Last();
    RowsDone += query.RecordCount();
    query.First();

    const QString repeated = ids.AddPage(query.DataSet());
    if (!repeated.isEmpty()) {
      throw ENompackError(
          QStringLiteral("Таблица %1: редът с ID %2 е прочетен повторно в част %3. Редовете на "
                         "таблицата са се променили по време на изнасянето.")
              .arg(TableName, repeated)
              .arg(ChunkNo))
          .AddContext(ExportContext(TableName, ChunkNo));
    }
    const QString fileName = Folder + PacketLayout::ChunkFileName(TableName, ChunkNo);
    try {
      WriteChunk(query.DataSet(), fileName);
    } catch (ENompackError& e) {
      e.AddContext(ExportContext(TableName, ChunkNo));
      throw;
    }
    Offset += ChunkSize;
    FirstRow += ChunkSize;
    ++ChunkNo;
    FView.ShowTableProgress(RowsDone, Total);
  }
  query.Close();
  // Lost or repeated rows show as a different number of rows.
  if (RowsDone != Total) {
    throw ENompackError(
        QStringLiteral("Таблица %1: изнесени са %2 реда, а преброените са %3. Редовете на "
                       "таблицата са се променили по време на изнасянето.")
            .arg(TableName)
            .arg(RowsDone)
            .arg(Total))
        .AddContext(ExportContext(TableName, ChunkNo - 1));
  }
}

void TExporter::ExportFBTable(const QString& TableName, const QString& Folder, int ChunkSize,
                              int& RowsDone) {
  ExportTable(TDMConnectionKind::FireBird, TableName, Folder, ChunkSize, RowsDone);
}

void TExporter::ExportMySQLTable(const QString& TableName, const QString& Folder, int ChunkSize,
                                 int& RowsDone) {
  ExportTable(TDMConnectionKind::MySQL, TableName, Folder, ChunkSize, RowsDone);
}

void TExporter::ExportMSSQLTable(const QString& TableName, const QString& Folder, int ChunkSize,
                                 int& RowsDone) {
  ExportTable(TDMConnectionKind::MSSQL, TableName, Folder, ChunkSize, RowsDone);
}
