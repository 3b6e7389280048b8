#include "CliProgressBar.h"

#include <QStringList>
#include <cmath>

#include "Progress.h"

namespace CliProgressBar {

QString GroupedNumber(qint64 value) {
  const QString digits = QString::number(value < 0 ? -value : value);
  QString grouped;
  for (qsizetype i = 0; i < digits.size(); ++i) {
    if (i > 0 && (digits.size() - i) % 3 == 0) grouped += QLatin1Char(' ');
    grouped += digits.at(i);
  }
  return value < 0 ? QLatin1Char('-') + grouped : grouped;
}

QString TimeLeftText(qint64 seconds) {
  if (seconds < 0) seconds = 0;
  const qint64 hours = seconds / 3600;
  const QString minutesAndSeconds = QStringLiteral("%1:%2")
                                        .arg(hours > 0 ? seconds / 60 % 60 : seconds / 60,
                                             hours > 0 ? 2 : 1, 10, QLatin1Char('0'))
                                        .arg(seconds % 60, 2, 10, QLatin1Char('0'));
  return hours > 0 ? QStringLiteral("%1:%2").arg(hours).arg(minutesAndSeconds) : minutesAndSeconds;
}

QString Text(const QString& caption, int done, int total, qint64 elapsedMs, const QString& rateUnit,
             int width) {
  const int position = qBound(0, ProgressPosition(done, total), 100);
  const int filled = position * kBarWidth / 100;
  const QString head =
      QStringLiteral("[%1%2] %3% ")
          .arg(QString(filled, QLatin1Char('#')), QString(kBarWidth - filled, QLatin1Char(' ')))
          .arg(position, 3);

  QString tail;
  if (elapsedMs >= kMinEstimateMs && done > 0) {
    const double perSecond = double(done) * 1000.0 / double(elapsedMs);
    QStringList parts;
    if (!rateUnit.isEmpty())
      parts.append(GroupedNumber(qRound64(perSecond)) + QLatin1Char(' ') + rateUnit);
    if (done < total) {
      // Rounded up: "0:00" is for a stage that is done.
      const double left = double(total - done) / perSecond;
      parts.append(QStringLiteral("остават ") + TimeLeftText(qint64(std::ceil(left))));
    }
    if (!parts.isEmpty()) tail = QStringLiteral("  ") + parts.join(QStringLiteral(", "));
  }

  // The caption gives way first; its end (the table name) stays.
  QString shown = caption;
  const qsizetype room = width - head.size() - tail.size();
  const qsizetype minimum = 8;
  if (shown.size() > room) {
    const qsizetype keep = qMax(room, minimum) - 1;
    shown = QChar(0x2026) + shown.right(keep);
  }
  return head + shown + tail;
}

}  // namespace CliProgressBar
