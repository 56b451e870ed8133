#include "clock/timezones.h"

#include <QLocale>
#include <QRegularExpression>
#include <QTimeZone>

namespace TimeZones {

QByteArrayList offeredZones(const QByteArrayList &platformIds)
{
    static const QRegularExpression offsetForm(QStringLiteral("^UTC[+-][0-9]{2}:[0-9]{2}$"));
    QByteArrayList zones;
    for (const QByteArray &id : platformIds) {
        if (offsetForm.match(QString::fromLatin1(id)).hasMatch())
            zones.append(id);
    }
    return zones.mid(qMax(0, zones.size() - kListLength));
}

QString wallClock(const QDateTime &now, const QString &zoneId)
{
    // An empty identifier would give the computer's own zone.
    if (zoneId.isEmpty())
        return QString();
    const QTimeZone zone(zoneId.toLocal8Bit());
    if (!zone.isValid())
        return QString();
    // ASCII digits, as the device time beside it shows them, whatever the regional format.
    return QLocale::c().toString(now.toTimeZone(zone), QStringLiteral("yyyy-MM-dd hh:mm:ss"));
}

} // namespace TimeZones
