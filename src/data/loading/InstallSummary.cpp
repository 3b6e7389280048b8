#include "InstallSummary.h"

#include "CountTable.h"
#include "LoadTarget.h"
#include "NompackError.h"
#include "PacketCheck.h"

void TInstallSummary::Build(const TPacketContents& contents,
                            const QVector<TRowLoader::TTableLoad>& loads) {
  FTables.clear();
  FCountError.clear();
  for (const TPacketTable& packet : contents.Tables) {
    TTable table;
    table.Name = packet.Name;
    table.PacketRows = packet.TotalRows;
    table.ManifestRows = packet.ManifestRows;
    for (const TRowLoader::TTableLoad& load : loads) {
      if (load.Table != packet.Name) continue;
      table.RowsRead += load.RowsRead;
      table.Loaded += load.Loaded;
      table.Refused += load.Refused;
    }
    FTables.append(table);
  }
}

void TInstallSummary::CountTarget(TLoadTarget& target) {
  try {
    for (TTable& table : FTables) table.InTarget = target.CountRows(table.Name);
  } catch (const ENompackError& e) {
    FCountError = e.Message();
  }
}

int TInstallSummary::RefusedRows() const {
  int refused = 0;
  for (const TTable& table : FTables) refused += table.Refused;
  return refused;
}

QStringList TInstallSummary::Differences() const {
  QStringList differences;
  for (const TTable& t : FTables) {
    if (t.ManifestRows >= 0 && t.ManifestRows != t.PacketRows)
      differences.append(QStringLiteral("Таблица %1: пакетът съдържа %2, а в манифеста му са "
                                        "записани %3.")
                             .arg(t.Name, RowsText(t.PacketRows), RowsText(t.ManifestRows)));
    if (t.RowsRead != t.PacketRows)
      differences.append(QStringLiteral("Таблица %1: при проверката на пакета са преброени %2, а "
                                        "при зареждането са прочетени %3.")
                             .arg(t.Name, RowsText(t.PacketRows), RowsText(t.RowsRead)));
    if (t.InTarget >= 0 && t.InTarget != t.Loaded)
      differences.append(QStringLiteral("Таблица %1: заредени са %2, а след потвърждаването в "
                                        "базата има %3.")
                             .arg(t.Name, RowsText(t.Loaded), RowsText(t.InTarget)));
  }
  return differences;
}

TInstallSummary::TVerdict TInstallSummary::Verdict() const {
  if (FTables.isEmpty() && FCountError.isEmpty()) return TVerdict::None;
  if (!Differences().isEmpty()) return TVerdict::Mismatch;
  if (!FCountError.isEmpty()) return TVerdict::Unverified;
  for (const TTable& t : FTables)
    if (t.InTarget < 0) return TVerdict::Unverified;
  return RefusedRows() > 0 ? TVerdict::Refused : TVerdict::Clean;
}

QString TInstallSummary::ErrorText() const {
  switch (Verdict()) {
    case TVerdict::Mismatch:
      return QStringLiteral("Данните в базата не съответстват на пакета:\n") +
             Differences().join(QLatin1Char('\n'));
    case TVerdict::Unverified:
      return QStringLiteral(
                 "Броят на редовете в базата не може да бъде проверен след инсталацията:\n") +
             FCountError;
    default:
      return QString();
  }
}

QStringList TInstallSummary::TableLines() const {
  QVector<TCountRow> rows;
  qint64 packet = 0, loaded = 0, refused = 0, inTarget = 0;
  bool counted = true;
  for (const TTable& t : FTables) {
    rows.append({t.Name, {t.PacketRows, t.Loaded, t.Refused, t.InTarget}});
    packet += t.PacketRows;
    loaded += t.Loaded;
    refused += t.Refused;
    if (t.InTarget < 0) counted = false;
    inTarget += t.InTarget;
  }
  rows.append({QStringLiteral("Общо"), {packet, loaded, refused, counted ? inTarget : -1}});
  QStringList lines{QStringLiteral("Обобщение на инсталацията:")};
  lines += CountTableLines(
      {QStringLiteral("Таблица"), QStringLiteral("В пакета"), QStringLiteral("Заредени"),
       QStringLiteral("Отказани"), QStringLiteral("В базата")},
      rows);
  return lines;
}

QString TInstallSummary::VerdictLine() const {
  qint64 packet = 0, loaded = 0;
  QStringList differing;
  for (const TTable& t : FTables) {
    packet += t.PacketRows;
    loaded += t.Loaded;
  }
  for (const TTable& t : FTables) {
    const bool differs = (t.ManifestRows >= 0 && t.ManifestRows != t.PacketRows) ||
                         t.RowsRead != t.PacketRows || (t.InTarget >= 0 && t.InTarget != t.Loaded);
    if (differs) differing.append(t.Name);
  }
  const int refused = RefusedRows();
  const QString refusedText =
      refused > 0 ? QStringLiteral(" Отказани редове: %1.").arg(refused) : QString();
  switch (Verdict()) {
    case TVerdict::None:
      return QString();
    case TVerdict::Clean:
      return QStringLiteral(
                 "Инсталацията завърши успешно: заредени са всички %1 от пакета и броят им в "
                 "базата е проверен.")
          .arg(RowsText(packet));
    case TVerdict::Refused:
      return QStringLiteral(
                 "Инсталацията завърши с отказани редове: заредени са %1 от %2, отказани са %3 "
                 "(описани са по-горе в дневника).")
          .arg(QString::number(loaded), RowsText(packet), QString::number(refused));
    case TVerdict::Mismatch:
      return QStringLiteral(
                 "ВНИМАНИЕ: инсталацията завърши, но данните в базата НЕ съответстват на пакета "
                 "(%1). Проверете базата данни!%2")
          .arg(differing.join(QStringLiteral(", ")), refusedText);
    case TVerdict::Unverified:
      return QStringLiteral(
                 "ВНИМАНИЕ: инсталацията завърши, но броят на редовете в базата не беше "
                 "проверен. Проверете базата данни!%1")
          .arg(refusedText);
  }
  return QString();
}
