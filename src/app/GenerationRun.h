#pragma once

#include <QString>
#include <QStringList>

#include "RunContext.h"

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
  QString GetFBConnectString() const;
  QStringList WriteTablesDescr(const QString& version);

  // The packet file of the last run when it ended with the success notice;
  // empty otherwise.
  const QString& LastPacketFile() const { return FLastPacketFile; }

 private:
  TRunContext& FContext;
  QString FLastPacketFile;
};
