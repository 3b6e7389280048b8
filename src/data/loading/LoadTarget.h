#pragma once

#include <QString>
#include <memory>

#include "ColumnLimits.h"
#include "ColumnReconciliation.h"
#include "Connection.h"
#include "DataBaseType.h"
#include "FieldType.h"
#include "IdentityReset.h"
#include "TargetShapeCheck.h"
#include "Variant.h"

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

  // The table has an identity counter to move after loading.
  virtual bool HasIdentity(const QString& table) = 0;
  // Readies the session for loading the IDs as they are (before the rows of
  // a table with an identity counter).
  virtual void PrepareIdentity() {}
  virtual void ResetIdentity(const QString& table) = 0;

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
  virtual void Bind(TParam& param, TFieldType type, const Variant& value) const = 0;
  // Rows sent in one round trip. MySQL stores a multi-row insert at about
  // five times the rate of single rows with little gain beyond a few hundred;
  // the Firebird block of inserts is fastest at about fifty.
  virtual int BatchRows() const = 0;
  // A table's rows are in: what the target's transaction needs then.
  virtual void TableLoaded() {}

  // A statement on the target's connection, without text yet.
  std::unique_ptr<TQuery> CreateStatement();
  // Inserts of up to BatchRows() rows per round trip naming `columns`.
  std::unique_ptr<IBatchInsert> CreateBatchInsert(const QString& table, const QStringList& columns);

 protected:
  TLoadTarget(DataBaseType kind, TDM& dm, IAppView& view)
      : FKind(kind), FDM(dm), FView(view), FIdentity(dm), FColumns(dm, view) {}

  // The target's tables and columns as the check compares them.
  virtual TTargetCatalogue ReadCatalogue() = 0;

  DataBaseType FKind;
  TDM& FDM;
  IAppView& FView;
  TIdentityReset FIdentity;
  TColumnReconciliation FColumns;
};

// The target of the kind; nullptr for MSSQL, which nothing is loaded into.
std::unique_ptr<TLoadTarget> MakeLoadTarget(DataBaseType kind, TDM& dm, IAppView& view);

// The MySQL table has a column PHARM_ID, in any letter case.
bool MySQLTableHasPharmId(TDM& dm, const QString& table);
