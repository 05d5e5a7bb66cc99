#include "pages/ClockZone.h"

namespace clockzone {

QString name() { return QStringLiteral("UTC+8"); }

QString heading() { return QStringLiteral("时间(%1)").arg(name()); }

QDateTime at(qint64 msecsUtc) { return QDateTime::fromMSecsSinceEpoch(msecsUtc, Qt::OffsetFromUTC, kOffsetSecs); }

QString text(qint64 msecsUtc, const QString &format) { return at(msecsUtc).toString(format); }

QString dateTime(qint64 msecsUtc) { return text(msecsUtc, QStringLiteral("yyyy-MM-dd HH:mm:ss")); }

QString time(qint64 msecsUtc) { return text(msecsUtc, QStringLiteral("HH:mm:ss")); }

QString timeMs(qint64 msecsUtc) { return text(msecsUtc, QStringLiteral("HH:mm:ss.zzz")); }

}  // namespace clockzone
