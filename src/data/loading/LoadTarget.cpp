#include "LoadTarget.h"

#include <QMap>

#include "AppMiscFiles.h"
#include "AppMiscQueries.h"
#include "AppView.h"
#include "Cleanup.h"
#include "DataModule.h"
#include "Identifiers.h"
#include "LockWait.h"
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

// MySQL server errors that end the statement because another session holds
// what it needs, and those after which the transaction is gone (the server
// rolled it back, or the connection with it).
constexpr qint64 kMySQLLockWaitTimeout = 1205;
constexpr qint64 kMySQLDeadlock = 1213;
constexpr qint64 kMySQLServerShutdown = 1053;
constexpr qint64 kMySQLQueryInterrupted = 1317;
constexpr qint64 kMySQLConnectionKilled = 1927;

// Firebird status codes of the same two kinds.
constexpr qint64 kFBDeadlock = 335544336;
constexpr qint64 kFBLockConflict = 335544345;
constexpr qint64 kFBUpdateConflict = 335544451;
constexpr qint64 kFBLockTimeout = 335544510;
constexpr qint64 kFBShutdown = 335544528;
constexpr qint64 kFBNetworkError = 335544721;
constexpr qint64 kFBNetReadError = 335544726;
constexpr qint64 kFBNetWriteError = 335544727;
constexpr qint64 kFBAttachmentShutdown = 335544856;
constexpr qint64 kFBConnectionLost = 335545106;

class TMySQLLoadTarget : public TLoadTarget {
 public:
  TMySQLLoadTarget(TDM& dm, IAppView& view) : TLoadTarget(DataBaseType::MySQL, dm, view) {}

  bool CleanTarget(const QString& descriptorPath, QString& errorText) override {
    if (!FInstalling) return TCleanup(FDM, FView).PrepareMySQLTarget(descriptorPath, errorText);
    return TCleanup(FDM, FView, *this).ClearMySQLTarget(descriptorPath, errorText);
  }

  bool PrepareInstall(const QString& descriptorPath, const TPacketContents& contents,
                      QString& errorText) override {
    try {
      const int wait = LockWaitSeconds();
      ExecMySQL(QStringLiteral("SET SESSION lock_wait_timeout = %1;").arg(wait));
      ExecMySQL(QStringLiteral("SET SESSION innodb_lock_wait_timeout = %1;").arg(wait));
      const QStringList tables = LoadDescriptorTables(descriptorPath);
      LogNonTransactionalTables(tables);
      FView.ShowInstallProgress(QStringLiteral("Изтриване на таблици с репл.данни от обекти..."), 0,
                                100);
      // The progress call let the window's events run: a stop asked there
      // comes before the drop, which no rollback undoes.
      ThrowIfStopRequested(FView);
      TCleanup(FDM, FView, *this).DropMySQLReplicaTables();
      // ALTER TABLE commits whatever is pending: the columns the chunks
      // bring are added before the transaction, not while it loads.
      for (const TPacketTable& table : contents.Tables) {
        ThrowIfStopRequested(FView);
        QVector<TFieldDef> columns;
        for (const TPacketColumn& column : table.Columns) columns.append(column.Def);
        FColumns.AddMissingMySQLColumns(table.Name, columns);
      }
      FColumnsAdded = true;
      return true;
    } catch (const ENompackError& e) {
      errorText = e.Message();
      return false;
    }
  }
  void BeginInstall() override {
    FCountersBefore = ReadCounters();
    ExecMySQL(QStringLiteral("START TRANSACTION;"));
    TLoadTarget::BeginInstall();
  }
  void CommitInstall() override {
    ExecMySQL(QStringLiteral("COMMIT;"));
    FInstalling = false;
  }
  void RollbackInstall() override {
    FInstalling = false;
    try {
      ExecMySQL(QStringLiteral("ROLLBACK;"));
      RestoreCounters();
    } catch (const ENompackError&) {
    }
  }
  bool IsLockFailure(const ENompackError& e) const override {
    return e.ErrorKind() == ENompackError::Kind::Server &&
           (e.NativeCode() == kMySQLLockWaitTimeout || e.NativeCode() == kMySQLDeadlock);
  }
  bool EndsTransaction(const ENompackError& e) const override {
    // The client library's own errors are a lost or broken connection.
    if (e.ErrorKind() == ENompackError::Kind::Database) return true;
    const qint64 code = e.NativeCode();
    return IsLockFailure(e) || code == kMySQLServerShutdown || code == kMySQLQueryInterrupted ||
           code == kMySQLConnectionKilled;
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
  bool HasPharmId(const QString& table) override { return MySQLTableHasPharmId(FDM, table); }
  void ReconcileColumns(const QString& table, const TClientDataSet& chunk,
                        bool& reconciled) override {
    if (!reconciled && !FColumnsAdded) FColumns.AddMissingMySQLColumns(table, chunk, reconciled);
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
  QString CountStatement(const QString& table) const override {
    return QStringLiteral("SELECT COUNT(*) FROM `%1`").arg(table);
  }
  void Bind(TParam& param, TFieldType type, const Variant& value) const override {
    param.DataType = type;
    param.Value = value;
  }
  int BatchRows() const override { return 500; }

 protected:
  void ResetIdentityNow(const QString& table) override { FIdentity.ResetMySQLAutoIncrement(table); }

 private:
  // Set once PrepareInstall has added every chunk column: no ALTER TABLE
  // may run inside the transaction.
  bool FColumnsAdded = false;

  QMap<QString, QString> FCountersBefore;

  void ExecMySQL(const QString& sql) { FDM.MySQLCon().Execute(sql); }

  // The AUTO_INCREMENT of every table that has one.
  QMap<QString, QString> ReadCounters() {
    QMap<QString, QString> counters;
    const auto rows = FDM.MySQLCon().Open(
        QStringLiteral("SELECT TABLE_NAME, AUTO_INCREMENT FROM information_schema.TABLES "
                       "WHERE TABLE_SCHEMA = DATABASE() AND AUTO_INCREMENT IS NOT NULL"));
    for (const auto& row : rows->Rows()) counters.insert(row[0].ToString(), row[1].ToString());
    return counters;
  }
  // An insert moves the counter for good, rolled back or not: the counters
  // go back to what they were (the server keeps them above the rows).
  void RestoreCounters() {
    const QMap<QString, QString> now = ReadCounters();
    for (auto it = now.cbegin(); it != now.cend(); ++it) {
      const auto before = FCountersBefore.constFind(it.key());
      if (before == FCountersBefore.cend() || before.value() == it.value()) continue;
      if (!IsPlainIdentifier(it.key())) continue;
      bool ok = false;
      const qint64 value = before.value().toLongLong(&ok);
      if (ok)
        ExecMySQL(QStringLiteral("ALTER TABLE %1 AUTO_INCREMENT=%2;").arg(it.key()).arg(value));
    }
  }

  // The tables the installation changes whose engine ignores transactions
  // (their deletes and inserts stay whatever happens later), named in the
  // log before anything changes.
  void LogNonTransactionalTables(const QStringList& descriptorTables) {
    QStringList changed = TCleanup::DocumentTables().split(QStringLiteral("\r\n"));
    changed += descriptorTables;
    const auto rows = FDM.MySQLCon().Open(
        QStringLiteral("SELECT TABLE_NAME, ENGINE FROM information_schema.TABLES "
                       "WHERE TABLE_SCHEMA = DATABASE() AND TABLE_TYPE = 'BASE TABLE' "
                       "AND (ENGINE IS NULL OR UPPER(ENGINE) <> 'INNODB') ORDER BY TABLE_NAME"));
    QStringList named;
    for (int r = 0; r < rows->Rows().size(); ++r) {
      const QString name = rows->Rows()[r][0].ToString();
      if (changed.contains(name, Qt::CaseInsensitive))
        named.append(QStringLiteral("%1 (%2)").arg(name, rows->Rows()[r][1].ToString()));
    }
    if (!named.isEmpty())
      FView.AppendLog(QStringLiteral("Таблици без поддръжка на транзакции: %1. Промените в тях "
                                     "няма да бъдат отменени, ако инсталацията не завърши.")
                          .arg(named.join(QStringLiteral(", "))));
  }
};

class TFBLoadTarget : public TLoadTarget {
 public:
  TFBLoadTarget(TDM& dm, IAppView& view) : TLoadTarget(DataBaseType::FireBird, dm, view) {}

  bool CleanTarget(const QString& descriptorPath, QString& errorText) override {
    if (!FInstalling) {
      TCleanup cleanup(FDM, FView);
      return cleanup.PrepareFBTarget(errorText) &&
             cleanup.ClearFBNomenclature(descriptorPath, errorText);
    }
    TCleanup cleanup(FDM, FView, *this);
    return cleanup.PrepareFBTarget(errorText) &&
           cleanup.ClearFBNomenclature(descriptorPath, errorText);
  }

  // The connection's transaction (started when it connected, with the
  // bounded lock wait) is the installation's; nothing commits by itself.
  bool PrepareInstall(const QString& /*descriptorPath*/, const TPacketContents& /*contents*/,
                      QString& /*errorText*/) override {
    return true;
  }
  void BeginInstall() override {
    // What the checks read ends here, so the installation starts afresh.
    FDM.FBCommitRetaining();
    TLoadTarget::BeginInstall();
  }
  void CommitInstall() override {
    FDM.FBCommitRetaining();
    FInstalling = false;
  }
  void RollbackInstall() override {
    FInstalling = false;
    try {
      FDM.FBRollbackRetaining();
    } catch (const ENompackError&) {
    }
  }
  bool IsLockFailure(const ENompackError& e) const override {
    const qint64 code = e.NativeCode();
    return e.ErrorKind() == ENompackError::Kind::Server &&
           (code == kFBDeadlock || code == kFBLockConflict || code == kFBUpdateConflict ||
            code == kFBLockTimeout);
  }
  bool EndsTransaction(const ENompackError& e) const override {
    if (e.ErrorKind() == ENompackError::Kind::Database) return true;
    const qint64 code = e.NativeCode();
    return IsLockFailure(e) || code == kFBShutdown || code == kFBNetworkError ||
           code == kFBNetReadError || code == kFBNetWriteError || code == kFBAttachmentShutdown ||
           code == kFBConnectionLost;
  }

  bool HasIdentity(const QString& table) override { return FIdentity.FBGeneratorExists(table); }
  TTargetCatalogue ReadCatalogue() override {
    TTargetCatalogue catalogue = CatalogueOf(FDM.FBMainDatabase());
    catalogue.LeftOut = [this](const QString& column) { return LeavesOut(column, false); };
    return catalogue;
  }
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
  QString CountStatement(const QString& table) const override {
    return QStringLiteral("SELECT COUNT(*) FROM %1").arg(table);
  }
  void Bind(TParam& param, TFieldType type, const Variant& value) const override {
    TRowLoader::BindFBParam(param, type, value);
  }
  int BatchRows() const override { return 50; }
  // Each table is committed once loaded, outside an installation's one
  // transaction.
  void TableLoaded() override {
    if (!FInstalling) FDM.FBCommitRetaining();
  }

 protected:
  void ResetIdentityNow(const QString& table) override { FIdentity.ResetFBGenerator(table); }
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

qint64 TLoadTarget::CountRows(const QString& table) {
  // The name reaches SQL text unquoted on Firebird.
  RequirePlainTableName(table);
  return FDM.Connection(FKind).Open(CountStatement(table))->Value(0).ToInt64();
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

void TLoadTarget::ResetIdentity(const QString& table) {
  if (FInstalling) {
    if (!FNotedIdentities.contains(table)) FNotedIdentities.append(table);
    return;
  }
  ResetIdentityNow(table);
}

void TLoadTarget::ResetNotedIdentities() {
  const QStringList tables = FNotedIdentities;
  FNotedIdentities.clear();
  for (const QString& table : tables) ResetIdentityNow(table);
  // The Firebird generator statements are DDL: committed like the rows.
  TableLoaded();
}

void TLoadTarget::CheckRowFailure(const QString& table, const ENompackError& e) const {
  if (IsLockFailure(e)) throw TableInUseError(table, e);
  if (EndsTransaction(e)) throw e;
}

namespace {

// What a cleanup statement was doing, for the line above the server's text.
QString StatementDoing(const QString& table, const QString& sql) {
  const QString verb = sql.section(QLatin1Char(' '), 0, 0).toUpper();
  if (verb == QLatin1String("DELETE"))
    return QStringLiteral("Грешка при изтриването на данните от таблица %1:").arg(table);
  if (verb == QLatin1String("DROP"))
    return QStringLiteral("Грешка при изтриването на таблица %1:").arg(table);
  if (verb == QLatin1String("EXECUTE"))
    return QStringLiteral("Грешка при изпълнението на процедура %1:").arg(table);
  return QStringLiteral("Грешка при промяната на таблица %1:").arg(table);
}

}  // namespace

void TLoadTarget::ExecOnTable(const QString& table, const QString& sql) {
  try {
    FDM.Connection(FKind).Execute(sql);
  } catch (const ENompackError& e) {
    if (IsLockFailure(e)) throw TableInUseError(table, e);
    throw DuringStep(StatementDoing(table, sql), e);
  }
}

ENompackError DuringStep(const QString& doing, const ENompackError& cause) {
  const bool serverText = (cause.ErrorKind() == ENompackError::Kind::Server ||
                           cause.ErrorKind() == ENompackError::Kind::Database) &&
                          cause.Message() == cause.ServerText();
  if (!serverText) return cause;
  ENompackError error(doing + QStringLiteral("\r\n") + cause.Message(), cause.ErrorKind(),
                      cause.ServerText(), cause.NativeCode());
  for (const QString& line : cause.Context()) error.AddContext(line);
  return error;
}

ENompackError TableInUseError(const QString& table, const ENompackError& cause) {
  ENompackError error(
      QStringLiteral("Таблица %1 се използва от друга програма: изчакването приключи без "
                     "резултат.\r\n%2")
          .arg(table, cause.Message()),
      cause.ErrorKind(), cause.ServerText(), cause.NativeCode());
  for (const QString& line : cause.Context()) error.AddContext(line);
  return error;
}
