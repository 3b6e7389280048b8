#pragma once

#include <QList>
#include <QPair>
#include <QString>
#include <QStringList>

#include "RunContext.h"

class IAppView;
class QElapsedTimer;
class TPacketPacker;

// The packet generation run: packet folder, connection, descriptor, the 37
// tables in chunks, archive, packet file, folder removal, success notice.
class TGenerationRun {
 public:
  explicit TGenerationRun(TRunContext& context);

  // acGenerateExportExecute: runs the generation of the chosen kind. Errors
  // no step catches propagate (ENompackError) to the front end's top-level
  // handler, after the progress reset.
  void GenerateExport();
  void GenerateMySQLPacket();
  void GenerateFBPacket();
  void GenerateMSSQLPacket();

  QString CreatePacketFolder(const QString& tag);
  // FBConnectString of the current settings.
  QString GetFBConnectString() const;
  QStringList WriteTablesDescr(const QString& version);

  // The packet file of the last run when it ended with the success notice;
  // empty otherwise. A run ends with the notice only when the packet file
  // holds every exported file: when packing or the rename fails the run
  // shows the error instead and keeps what it made (the packet folder, or
  // the ".tmp" archive).
  const QString& LastPacketFile() const { return FLastPacketFile; }

  // The log lines that follow the success notice: the packet file's path,
  // its size in bytes, the rows of each table as the export counted them,
  // their total and the time the run took up to the notice.
  static QStringList SummaryLines(const QString& packetFile, qint64 packetSize,
                                  const QList<QPair<QString, int>>& tableRows, qint64 milliseconds);

 private:
  TRunContext& FContext;
  QString FLastPacketFile;
  bool FRunning = false;  // held by a TReentrancyGuard while a run goes

  // The kind's run after its packet folder exists: connection, descriptor,
  // tables, archive, packet file, notice and summary, the same for the three
  // kinds. Reports through `view`, the run's log.
  void ExportPacket(DataBaseType kind, IAppView& view, const QElapsedTimer& timer);
  // Repair, descriptor, the tables and the manifest in one read snapshot;
  // the connection is closed afterwards, also when an error leaves. With a
  // packer (not null) the descriptor and the chunks go to it as they are
  // made (the chunks become no files), and every chunk is packed before the
  // manifest is written.
  void ExportTables(DataBaseType kind, IAppView& view, QList<QPair<QString, int>>& tableRows,
                    TPacketPacker* packer);
  // A stop the user asked for: the packet begun (the folder's packet files,
  // the folder, the run's own ".tmp" archive when named) is removed, and the
  // log and an error box say so. No success notice follows.
  void StopGeneration(IAppView& view, const QString& tmpArchive);
  bool RemoveUnfinishedPacket(const QString& tmpArchive);
  void GeneratePacket(DataBaseType kind);
};
