#include "PacketDryRun.h"

#include <QHash>

#include "AppView.h"
#include "ClientDataSet.h"
#include "ColumnLimits.h"
#include "ColumnReconciliation.h"
#include "CountTable.h"
#include "Identifiers.h"
#include "LoadTarget.h"
#include "PacketCheck.h"
#include "RowLoader.h"

namespace {

const QString kIdColumn = QStringLiteral("ID");

}  // namespace

void TPacketDryRun::CheckRows(const QString& packetFolder, const TPacketContents& contents) {
  FTables.clear();
  FView.AppendLog(QStringLiteral("Проверка на редовете спрямо базата данни..."));
  TClientDataSet chunk;
  for (const TPacketTable& packet : contents.Tables) {
    ThrowIfStopRequested(FView);
    RequirePlainTableName(packet.Name);
    TTable table;
    table.Name = packet.Name;
    for (const TFieldDef& column : packet.MissingColumns)
      FView.AppendLog(
          QStringLiteral("В таблица %1 ще бъде добавена колона %2 %3")
              .arg(packet.Name, column.Name, TColumnReconciliation::GetMySQLColumnType(column)));
    const bool hasPharmId = FTarget.HasPharmId(packet.Name);
    const TColumnLimits limits = FTarget.ReadLimits(packet.Name);
    const QString caption = QStringLiteral("Проверка на редовете на таблица %1").arg(packet.Name);
    // The file of the first row that has each identifier: a second row with
    // it would be refused by the table's key.
    QHash<QString, QString> seenIds;
    for (const QString& file : packet.ChunkFiles) {
      chunk.Close();
      chunk.LoadFromFile(packetFolder + file);
      const QVector<TFieldDef>& fields = chunk.FieldDefs();
      QVector<bool> loaded;
      int idColumn = -1;
      for (int c = 0; c < fields.size(); ++c) {
        RequirePlainColumnName(packet.Name, fields[c].Name);
        loaded.append(!FTarget.LeavesOut(fields[c].Name, hasPharmId));
        if (loaded.last() && idColumn < 0 &&
            fields[c].Name.compare(kIdColumn, Qt::CaseInsensitive) == 0)
          idColumn = c;
      }
      const TChunkLimits chunkLimits(limits, fields, loaded);
      for (const QVector<Variant>& values : chunk.Rows()) {
        ++table.Rows;
        QString refusal = chunkLimits.RowRefusal(values);
        // Only a row that would be stored takes its identifier.
        if (refusal.isEmpty() && idColumn >= 0 && !values[idColumn].IsNullOrEmpty()) {
          const QString id = values[idColumn].ToString();
          const auto first = seenIds.constFind(id);
          if (first != seenIds.cend())
            refusal = QStringLiteral(
                          "Стойността %1 на колона %2 се повтаря в таблицата (първият ред с нея е "
                          "във файла \"%3\")")
                          .arg(id, fields[idColumn].Name, first.value());
          else
            seenIds.insert(id, file);
        }
        if (refusal.isEmpty()) {
          ++table.WouldLoad;
        } else {
          ++table.WouldRefuse;
          FView.AppendLog(TRowLoader::RefusedRowLine(refusal, packet.Name, values));
        }
      }
      FView.ShowInstallProgress(caption, table.Rows, packet.TotalRows);
    }
    FTables.append(table);
  }
}

int TPacketDryRun::WouldRefuse() const {
  int refused = 0;
  for (const TTable& table : FTables) refused += table.WouldRefuse;
  return refused;
}

QStringList TPacketDryRun::TableLines() const {
  QVector<TCountRow> rows;
  qint64 total = 0, load = 0, refuse = 0;
  for (const TTable& t : FTables) {
    rows.append({t.Name, {t.Rows, t.WouldLoad, t.WouldRefuse}});
    total += t.Rows;
    load += t.WouldLoad;
    refuse += t.WouldRefuse;
  }
  rows.append({QStringLiteral("Общо"), {total, load, refuse}});
  QStringList lines{QStringLiteral("Резултат от проверката:")};
  lines += CountTableLines({QStringLiteral("Таблица"), QStringLiteral("Редове"),
                            QStringLiteral("Ще се заредят"), QStringLiteral("Ще се откажат")},
                           rows);
  return lines;
}

QString TPacketDryRun::VerdictLine() const {
  qint64 total = 0;
  for (const TTable& t : FTables) total += t.Rows;
  const int refused = WouldRefuse();
  if (refused == 0)
    return QStringLiteral(
               "Проверката завърши: пакетът може да бъде инсталиран без отказани редове (%1 в %2 "
               "таблици). Базата данни не е променена.")
        .arg(RowsText(total))
        .arg(FTables.size());
  return QStringLiteral(
             "Проверката завърши: при инсталиране ще бъдат отказани %1 от %2 (описани са по-горе "
             "в дневника). Базата данни не е променена.")
      .arg(QString::number(refused), RowsText(total));
}
