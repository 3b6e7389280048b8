#pragma once

#include <QString>
#include <QStringList>
#include <memory>

#include "ColumnLimits.h"
#include "ColumnReconciliation.h"
#include "Connection.h"
#include "DataBaseType.h"
#include "FieldType.h"
#include "IdentityReset.h"
#include "TargetShapeCheck.h"
#include "Variant.h"

class ENompackError;
class IAppView;
class TClientDataSet;
class TDM;
class TQuery;
struct TPacketContents;

// What an installation does differently per target kind: the cleanup before
// loading, the insert's shape and binding, the identity counter and the
// transaction between tables. The installation run, the install driver and
// the row loader pick one by the kind, once, and ask it; nothing else in
// the loading looks at the kind.
class TLoadTarget {
 public:
  virtual ~TLoadTarget() = default;
  TLoadTarget(const TLoadTarget&) = delete;
  TLoadTarget& operator=(const TLoadTarget&) = delete;

  DataBaseType Kind() const { return FKind; }

  // Reads the target's catalogue and compares the checked packet with it
  // (TargetShapeError), before anything changes there: false with the error
  // text when a table or a column the packet needs is not there; the
  // columns to add are noted in `contents`.
  bool CheckTargetShape(TPacketContents& contents, QString& errorText);

  // Drops and empties what the packet replaces; false with the error text
  // when the cleanup cannot go on.
  virtual bool CleanTarget(const QString& descriptorPath, QString& errorText) = 0;

  // An installation's one transaction ------------------------------------
  // What commits by itself and so must come before the transaction, with
  // the session's bounded lock waits. False with the error text when it
  // fails; what it did then stays done.
  virtual bool PrepareInstall(const QString& descriptorPath, const TPacketContents& contents,
                              QString& errorText) = 0;
  // From here every change is held until CommitInstall; identity resets are
  // noted and made by ResetNotedIdentities after the commit.
  virtual void BeginInstall() { FInstalling = true; }
  virtual void CommitInstall() = 0;
  // Undoes what the transaction holds. A failure to do so is not reported:
  // it comes of a lost connection, whose transaction the server undoes.
  virtual void RollbackInstall() = 0;
  // The identity resets noted during the transaction, then what they need
  // to last.
  void ResetNotedIdentities();

  // The failed statement waited for a lock another session holds (the
  // bounded wait ran out, an update conflict, a deadlock).
  virtual bool IsLockFailure(const ENompackError& e) const = 0;
  // The failure ends the transaction or the connection (a lock, a lost
  // connection): it can never be a refusal of one row.
  virtual bool EndsTransaction(const ENompackError& e) const = 0;
  // A row's insert failed: returns when the database refused that row alone;
  // otherwise throws, a lock failure as the table-in-use message.
  void CheckRowFailure(const QString& table, const ENompackError& e) const;
  // Runs a statement of the installation about `table`; a lock failure
  // becomes the table-in-use message.
  void ExecOnTable(const QString& table, const QString& sql);

  // The table has an identity counter to move after loading.
  virtual bool HasIdentity(const QString& table) = 0;
  // Readies the session for loading the IDs as they are (before the rows of
  // a table with an identity counter).
  virtual void PrepareIdentity() {}
  // Moves the counter past the table's IDs; inside an installation's
  // transaction only notes the table.
  void ResetIdentity(const QString& table);

  // A PHARM_ID column the loader sets itself (to 0), replacing the chunk's.
  virtual bool HasPharmId(const QString& /*table*/) { return false; }
  // Adds the chunk's columns the table lacks; sets `reconciled` once done.
  virtual void ReconcileColumns(const QString& /*table*/, const TClientDataSet& /*chunk*/,
                                bool& /*reconciled*/) {}
  virtual TColumnLimits ReadLimits(const QString& table) = 0;
  // The chunk column is not loaded.
  virtual bool LeavesOut(const QString& column, bool hasPharmId) const = 0;
  virtual QString InsertStatement(const QString& table, const QString& columnList,
                                  const QString& paramList) const = 0;
  virtual QString CountStatement(const QString& table) const = 0;
  virtual void Bind(TParam& param, TFieldType type, const Variant& value) const = 0;
  // Rows sent in one round trip. MySQL stores a multi-row insert at about
  // five times the rate of single rows with little gain beyond a few hundred;
  // the Firebird block of inserts is fastest at about fifty.
  virtual int BatchRows() const = 0;
  // A table's rows are in: what the target's transaction needs then.
  virtual void TableLoaded() {}

  // Rows the table holds, as the target's connection sees them: after an
  // installation's commit, what it committed and whatever else (a trigger)
  // did with it.
  qint64 CountRows(const QString& table);

  // A statement on the target's connection, without text yet.
  std::unique_ptr<TQuery> CreateStatement();
  // Inserts of up to BatchRows() rows per round trip naming `columns`.
  std::unique_ptr<IBatchInsert> CreateBatchInsert(const QString& table, const QStringList& columns);

 protected:
  TLoadTarget(DataBaseType kind, TDM& dm, IAppView& view)
      : FKind(kind), FDM(dm), FView(view), FIdentity(dm), FColumns(dm, view) {}

  // The target's tables and columns as the check compares them.
  virtual TTargetCatalogue ReadCatalogue() = 0;

  // The reset itself. Both servers let it escape a rollback (MySQL commits
  // before it; a Firebird generator does not go back), so an installation
  // makes it only after its commit.
  virtual void ResetIdentityNow(const QString& table) = 0;

  DataBaseType FKind;
  TDM& FDM;
  IAppView& FView;
  TIdentityReset FIdentity;
  TColumnReconciliation FColumns;
  bool FInstalling = false;
  QStringList FNotedIdentities;
};

// "Таблица X се използва от друга програма" with the server's text on the
// next line.
ENompackError TableInUseError(const QString& table, const ENompackError& cause);
// A server's or client library's own text, led by a Bulgarian line saying
// what was being done. An error whose text is already the program's own
// (a busy table, a stop, a check) passes unchanged.
ENompackError DuringStep(const QString& doing, const ENompackError& cause);

// The target of the kind; nullptr for MSSQL, which nothing is loaded into.
std::unique_ptr<TLoadTarget> MakeLoadTarget(DataBaseType kind, TDM& dm, IAppView& view);

// The MySQL table has a column PHARM_ID, in any letter case.
bool MySQLTableHasPharmId(TDM& dm, const QString& table);
