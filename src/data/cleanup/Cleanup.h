#pragma once

#include <QString>
#include <QStringList>

class IAppView;
class TDM;
class TLoadTarget;

// What is dropped or emptied in a target before a packet is loaded into it:
// on MySQL the site replica tables, the document tables and the descriptor's
// tables; on FireBird the lock table, the target's own cleanup procedure and
// the descriptor's tables. Works on the data module's open connections.
class TCleanup {
 public:
  TCleanup(TDM& dm, IAppView& view) : FDM(dm), FView(view) {}
  // The cleanup of an installation that holds its changes in one
  // transaction: every statement goes through `target`, a failing one ends
  // the cleanup (the run rolls back), and nothing is committed here.
  TCleanup(TDM& dm, IAppView& view, TLoadTarget& target) : FDM(dm), FView(view), FTarget(&target) {}

  // The three MySQL phases. A failing statement shows its error box and the
  // phase goes on; an unreadable catalogue or descriptor ends the cleanup
  // with False and the error text.
  bool PrepareMySQLTarget(const QString& descriptorPath, QString& errorText);
  // The document and descriptor phases alone, each with its caption (an
  // installation drops the replica tables before its transaction).
  bool ClearMySQLTarget(const QString& descriptorPath, QString& errorText);
  // Empties ARTICLE_CENTRAL_LOCK and runs SP_CLEANUP_DB, then commits; on
  // failure both are rolled back.
  bool PrepareFBTarget(QString& errorText);
  // Empties the descriptor's tables last to first, committing each; stops at
  // the first failing statement.
  bool ClearFBNomenclature(const QString& descriptorPath, QString& errorText);

  void DropMySQLReplicaTables();
  // Names of the tables and views of the connected MySQL database, in
  // catalogue order.
  QStringList GetMySQLTableNames();
  static bool IsReplicaTableName(const QString& name);
  void ClearMySQLDocuments();
  void ClearMySQLNomenclature(const QString& descriptorPath);

  // The 26 document tables, one text, separated by CR LF, in clearing order.
  static const QString& DocumentTables();

 private:
  TDM& FDM;
  IAppView& FView;
  TLoadTarget* FTarget = nullptr;

  // The statement about `table` on the target's connection: through the
  // target in an installation, otherwise as the kind's plain statement
  // (MySQL: error box on failure).
  void ExecTableStatement(const QString& table, const QString& sql, bool mysql);
  void CommitTable();
  // Runs the statement made of `format` and the table name on MySQL; a name
  // that is no plain identifier gets an error box instead of a statement.
  void ExecMySQLTableSQL(const QString& format, const QString& table);
};
