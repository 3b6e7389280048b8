#include "LoadTarget.h"

#include "AppMiscFiles.h"
#include "AppMiscQueries.h"
#include "Cleanup.h"
#include "DataModule.h"
#include "NompackError.h"
#include "PacketCheck.h"
#include "RowLoader.h"

namespace {

const QString kPharmId = QStringLiteral("PHARM_ID");

// Tables and views of the connection, columns read from it on demand.
TTargetCatalogue CatalogueOf(IConnection& con) {
  TTargetCatalogue catalogue;
  for (const IConnection::TableEntry& entry : con.Tables()) {
    if (entry.Type == QLatin1String("TABLE") || entry.Type == QLatin1String("VIEW"))
      catalogue.Tables.append(entry.Name);
  }
  catalogue.ColumnsOf = [&con](const QString& table) { return con.ColumnNames(table); };
  return catalogue;
}

class TMySQLLoadTarget : public TLoadTarget {
 public:
  TMySQLLoadTarget(TDM& dm, IAppView& view) : TLoadTarget(DataBaseType::MySQL, dm, view) {}

  bool CleanTarget(const QString& descriptorPath, QString& errorText) override {
    return TCleanup(FDM, FView).PrepareMySQLTarget(descriptorPath, errorText);
  }
  bool HasIdentity(const QString& table) override { return FIdentity.MySQLHasAutoIncrement(table); }
  TTargetCatalogue ReadCatalogue() override {
    IConnection& con = FDM.MySQLCon();
    TTargetCatalogue catalogue = CatalogueOf(con);
    // Table names follow the file system's letter case unless the server
    // folds them.
    catalogue.TableCaseMatters =
        con.Open(QStringLiteral("SELECT @@lower_case_table_names"))->Value(0).ToInt32() == 0;
    catalogue.AddsMissingColumns = true;
    return catalogue;
  }
  void PrepareIdentity() override { FIdentity.SetNoAutoValueOnZero(); }
  void ResetIdentity(const QString& table) override { FIdentity.ResetMySQLAutoIncrement(table); }
  bool HasPharmId(const QString& table) override { return MySQLTableHasPharmId(FDM, table); }
  void ReconcileColumns(const QString& table, const TClientDataSet& chunk,
                        bool& reconciled) override {
    if (!reconciled) FColumns.AddMissingMySQLColumns(table, chunk, reconciled);
  }
  TColumnLimits ReadLimits(const QString& table) override {
    return TColumnLimits::ReadMySQL(FDM, table);
  }
  // The chunk's own PHARM_ID gives way to the appended one (named twice, the
  // insert would be refused for every row).
  bool LeavesOut(const QString& column, bool hasPharmId) const override {
    return hasPharmId && column.compare(kPharmId, Qt::CaseInsensitive) == 0;
  }
  QString InsertStatement(const QString& table, const QString& columnList,
                          const QString& paramList) const override {
    return QStringLiteral("insert into `%1` (%2) values (%3);").arg(table, columnList, paramList);
  }
  void Bind(TParam& param, TFieldType type, const Variant& value) const override {
    param.DataType = type;
    param.Value = value;
  }
  int BatchRows() const override { return 500; }
};

class TFBLoadTarget : public TLoadTarget {
 public:
  TFBLoadTarget(TDM& dm, IAppView& view) : TLoadTarget(DataBaseType::FireBird, dm, view) {}

  bool CleanTarget(const QString& descriptorPath, QString& errorText) override {
    TCleanup cleanup(FDM, FView);
    return cleanup.PrepareFBTarget(errorText) &&
           cleanup.ClearFBNomenclature(descriptorPath, errorText);
  }
  bool HasIdentity(const QString& table) override { return FIdentity.FBGeneratorExists(table); }
  TTargetCatalogue ReadCatalogue() override {
    TTargetCatalogue catalogue = CatalogueOf(FDM.FBMainDatabase());
    catalogue.LeftOut = [this](const QString& column) { return LeavesOut(column, false); };
    return catalogue;
  }
  void ResetIdentity(const QString& table) override { FIdentity.ResetFBGenerator(table); }
  TColumnLimits ReadLimits(const QString& table) override {
    return TColumnLimits::ReadFB(FDM, table);
  }
  // A column named exactly PHARM_ID is not loaded.
  bool LeavesOut(const QString& column, bool /*hasPharmId*/) const override {
    return column == kPharmId;
  }
  QString InsertStatement(const QString& table, const QString& columnList,
                          const QString& paramList) const override {
    return QStringLiteral("insert into %1 (%2) values (%3);").arg(table, columnList, paramList);
  }
  void Bind(TParam& param, TFieldType type, const Variant& value) const override {
    TRowLoader::BindFBParam(param, type, value);
  }
  int BatchRows() const override { return 50; }
  // Each table is committed once loaded.
  void TableLoaded() override { FDM.FBCommitRetaining(); }
};

}  // namespace

std::unique_ptr<TLoadTarget> MakeLoadTarget(DataBaseType kind, TDM& dm, IAppView& view) {
  switch (kind) {
    case DataBaseType::MySQL:
      return std::make_unique<TMySQLLoadTarget>(dm, view);
    case DataBaseType::FireBird:
      return std::make_unique<TFBLoadTarget>(dm, view);
    case DataBaseType::MSSQL:
      break;
  }
  return nullptr;
}

bool TLoadTarget::CheckTargetShape(TPacketContents& contents, QString& errorText) {
  try {
    errorText = TargetShapeError(contents, ReadCatalogue());
  } catch (const ENompackError& e) {
    errorText = QStringLiteral("Грешка при четенето на таблиците и колоните на базата данни:\n") +
                e.Message();
  }
  return errorText.isEmpty();
}

std::unique_ptr<TQuery> TLoadTarget::CreateStatement() {
  return CreateQuery(FDM, FKind, QString());
}

std::unique_ptr<IBatchInsert> TLoadTarget::CreateBatchInsert(const QString& table,
                                                             const QStringList& columns) {
  return FDM.Connection(FKind).PrepareBatchInsert(table, columns, BatchRows());
}

bool MySQLTableHasPharmId(TDM& dm, const QString& table) {
  QStringList columns = dm.MySQLCon().ColumnNames(table);
  UpperCaseList(columns);
  return columns.contains(kPharmId);
}
