#include "DateTime.h"

#include <cmath>

namespace DateTimeConv {

QDate BaseDate() {
  return QDate(1899, 12, 30);
}

TimeStamp ToTimeStamp(TDateTime value) {
  // Round to whole milliseconds first, then split: the day truncates towards
  // zero and the time of day is the magnitude of the remainder.
  const qint64 ms = std::llround(static_cast<long double>(value) * kMSecsPerDay);
  TimeStamp ts;
  ts.Day = ms / kMSecsPerDay;
  ts.MSec = static_cast<int>(std::llabs(ms) % kMSecsPerDay);
  return ts;
}

TDateTime FromTimeStamp(const TimeStamp& ts) {
  const double fraction = static_cast<double>(ts.MSec) / kMSecsPerDay;
  const double day = static_cast<double>(ts.Day);
  return ts.Day < 0 ? day - fraction : day + fraction;
}

TDateTime FromDate(const QDate& date) {
  return static_cast<double>(BaseDate().daysTo(date));
}

TDateTime FromTime(const QTime& time) {
  return static_cast<double>(time.msecsSinceStartOfDay()) / kMSecsPerDay;
}

TDateTime Compose(const QDate& date, const QTime& time) {
  return FromTimeStamp(
      TimeStamp{BaseDate().daysTo(date), time.isValid() ? time.msecsSinceStartOfDay() : 0});
}

TDateTime FromQDateTime(const QDateTime& dateTime) {
  return Compose(dateTime.date(), dateTime.time());
}

QDate ToDate(TDateTime value) {
  return BaseDate().addDays(ToTimeStamp(value).Day);
}

QTime ToTime(TDateTime value) {
  return QTime::fromMSecsSinceStartOfDay(ToTimeStamp(value).MSec);
}

QDateTime ToQDateTime(TDateTime value) {
  const TimeStamp ts = ToTimeStamp(value);
  return QDateTime(BaseDate().addDays(ts.Day), QTime::fromMSecsSinceStartOfDay(ts.MSec));
}

}  // namespace DateTimeConv
