#pragma once

#include <QString>
#include <QStringList>
#include <QVector>

#include "RowLoader.h"

struct TPacketContents;
class TLoadTarget;

// What a committed installation did to each table, checked against the
// target afterwards: the rows the packet check counted (and the packet's
// manifest lists), the rows the loader read, loaded and refused, and the
// rows the table holds after the commit. The target's tables are emptied
// before the load, so each must then hold exactly the rows loaded; any
// other number means something else (a trigger, an engine that drops rows)
// changed them, and the installation is not reported as a success.
class TInstallSummary {
 public:
  struct TTable {
    QString Name;
    int PacketRows = 0;
    int ManifestRows = -1;  // -1: the packet has no manifest
    int RowsRead = 0;
    int Loaded = 0;
    int Refused = 0;
    qint64 InTarget = -1;  // -1: not counted
  };

  enum class TVerdict {
    None,        // no committed installation
    Clean,       // every row loaded and found in the target
    Refused,     // rows were refused; what was loaded is all there
    Mismatch,    // a count differs
    Unverified,  // the target could not be counted
  };

  // The descriptor's tables (in order) with what the check and the loader
  // found; nothing counted in the target yet.
  void Build(const TPacketContents& contents, const QVector<TRowLoader::TTableLoad>& loads);
  // Counts every table in the target. A failing count leaves the summary
  // unverified with the failure's text.
  void CountTarget(TLoadTarget& target);

  const QVector<TTable>& Tables() const { return FTables; }
  TVerdict Verdict() const;
  int RefusedRows() const;

  // One text per difference found, naming the table and the numbers.
  QStringList Differences() const;
  // The error box of a summary whose verdict is Mismatch or Unverified;
  // empty otherwise.
  QString ErrorText() const;
  // The table lines under their title, in a fixed layout.
  QStringList TableLines() const;
  // One line that says how the installation ended.
  QString VerdictLine() const;

 private:
  QVector<TTable> FTables;
  QString FCountError;
};
