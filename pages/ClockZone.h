// The one clock of the window. Every time the operator sees or saves (the status-bar clock,
// 最后应答, the journal, the trend axis, the protocol log, recordings and exports) is shown in
// the status-bar clock's zone, UTC+8, whatever the PC's own zone is, and named where it is
// shown or written ("时间(UTC+8)"). Pure: times come in as milliseconds since 1970 UTC.
#pragma once

#include <QDateTime>
#include <QString>

namespace clockzone {

constexpr int kOffsetSecs = 8 * 3600;

// "UTC+8"
QString name();
// A time column's heading: "时间(UTC+8)".
QString heading();
// The time in the clock's zone (its offset from UTC is kOffsetSecs).
QDateTime at(qint64 msecsUtc);
// The time as text in the clock's zone, in a QDateTime format ("yyyy-MM-dd HH:mm:ss").
QString text(qint64 msecsUtc, const QString &format);
// The forms the window uses.
QString dateTime(qint64 msecsUtc);  // yyyy-MM-dd HH:mm:ss
QString time(qint64 msecsUtc);      // HH:mm:ss
QString timeMs(qint64 msecsUtc);    // HH:mm:ss.zzz

}  // namespace clockzone
