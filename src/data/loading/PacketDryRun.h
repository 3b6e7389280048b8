#pragma once

#include <QString>
#include <QStringList>
#include <QVector>

#include "FieldType.h"

class IAppView;
class TLoadTarget;
struct TPacketContents;

// An installation tried without changing the target: every row of a checked
// packet is checked as the loader checks it before sending it (the target
// columns' limits, through the same code), and against the rows before it
// for an identifier (ID) the table would get twice. Nothing is written:
// the target is only read (its catalogue), so a packet can be tried on a
// pharmacy's database before it replaces that pharmacy's data.
//
// What only the server can tell (a foreign key, a NOT NULL column, a
// trigger) is not foreseen; those rows would still be refused at the
// installation.
class TPacketDryRun {
 public:
  struct TTable {
    QString Name;
    int Rows = 0;
    int WouldLoad = 0;
    int WouldRefuse = 0;
  };

  TPacketDryRun(TLoadTarget& target, IAppView& view) : FTarget(target), FView(view) {}

  // Reads every chunk file of the checked packet (in loading order) and
  // logs, per table, each column the installation would add (MySQL) and
  // each row it would refuse, in the loader's refused-row line.
  // ENompackError when a chunk or the target's catalogue cannot be read, or
  // the user asks the run to stop.
  void CheckRows(const QString& packetFolder, const TPacketContents& contents);

  const QVector<TTable>& Tables() const { return FTables; }
  int WouldRefuse() const;
  // The table lines under their title, in a fixed layout.
  QStringList TableLines() const;
  // One line that says whether the packet would install without a refusal.
  QString VerdictLine() const;

 private:
  TLoadTarget& FTarget;
  IAppView& FView;
  QVector<TTable> FTables;
};
