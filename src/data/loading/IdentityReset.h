#pragma once

#include <QString>

class TDM;

// Moves a table's identity counter to the largest loaded ID after loading:
// the AUTO_INCREMENT counter on MySQL, the generator <TABLE>_ID on FireBird.
// The identifier column is ID. Queries throw (the failure ends the loader);
// MySQL statements run through ExecMySQLSQL, which shows its own failures.
class TIdentityReset {
 public:
  explicit TIdentityReset(TDM& dm) : FDM(dm) {}

  // The table is a base table of the connection's default database with a
  // non-NULL AUTO_INCREMENT.
  bool MySQLHasAutoIncrement(const QString& table);
  // Replaces the session's SQL mode with NO_AUTO_VALUE_ON_ZERO, so that a
  // loaded ID 0 stays 0.
  void SetNoAutoValueOnZero();
  // MAX(ID), 0 for an empty table. Identifiers are read in 64 bits so that a
  // bigint ID beyond 32 bits is set, not refused.
  qint64 GetMySQLMaxId(const QString& table);
  void ResetMySQLAutoIncrement(const QString& table);

  // A user generator named <TABLE>_ID exists.
  bool FBGeneratorExists(const QString& table);
  // MAX(ID) as the loading transaction sees it, 0 for an empty table.
  qint64 GetFBMaxId(const QString& table);
  void ResetFBGenerator(const QString& table);

 private:
  TDM& FDM;
};
