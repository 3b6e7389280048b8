#pragma once

#include <QDate>
#include <QDateTime>
#include <QTime>

// Date-time as the system counts it: days since 30 December 1899, the time of
// day as the fraction. Negative values are earlier dates; their fraction still
// counts forward from midnight (-1.25 is 29.12.1899 06:00).
using TDateTime = double;

namespace DateTimeConv {

constexpr qint64 kMSecsPerDay = 86400000;

// The day and the millisecond of the day, rounded to whole milliseconds.
struct TimeStamp {
  qint64 Day = 0;  // days since 30.12.1899, negative before it
  int MSec = 0;    // 0 .. 86399999
};

TimeStamp ToTimeStamp(TDateTime value);
TDateTime FromTimeStamp(const TimeStamp& ts);

QDate BaseDate();  // 30.12.1899

TDateTime FromDate(const QDate& date);
TDateTime FromTime(const QTime& time);  // 0 <= result < 1
TDateTime FromQDateTime(const QDateTime& dateTime);
TDateTime Compose(const QDate& date, const QTime& time);

QDate ToDate(TDateTime value);
QTime ToTime(TDateTime value);
QDateTime ToQDateTime(TDateTime value);  // local-free: Qt::UTC-less plain date and time

}  // namespace DateTimeConv
