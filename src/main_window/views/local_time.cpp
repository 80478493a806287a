#include "local_time.h"

#include <QDateTime>

#include <cstdlib>
#include <string>

namespace brindlewick {

namespace {

bool isDigit(QChar c) {
    return c >= QLatin1Char('0') && c <= QLatin1Char('9');
}

// "YYYY-MM-DDTHH:mm:ss[.fff][zone]": where the zone starts, or -1 for any other shape.
qsizetype zoneStart(const QString& iso) {
    static constexpr char kShape[] = "dddd-dd-ddXdd:dd:dd";
    for (int i = 0; i < 19; ++i) {
        const QChar c = iso.at(i);
        const char want = kShape[i];
        if (want == 'd'   ? !isDigit(c)
            : want == 'X' ? c != QLatin1Char('T') && c != QLatin1Char(' ')
                          : c != QLatin1Char(want))
            return -1;
    }
    if (iso.mid(14, 2).toInt() > 59 || iso.mid(17, 2).toInt() > 59)
        return -1;
    qsizetype at = 19;
    if (at < iso.size() && iso.at(at) == QLatin1Char('.'))
        for (++at; at < iso.size() && isDigit(iso.at(at)); ++at) {
        }
    // Offsets of whole hours only: then the local zone's changes, which fall on whole hours,
    // never fall inside the text's hour.
    const QStringView zone = QStringView(iso).mid(at);
    if (!zone.isEmpty() && zone != QLatin1String("Z") && !zone.endsWith(QLatin1String("00")))
        return -1;
    return at;
}

QString twoDigits(int n) {
    const QChar digits[2] = {QLatin1Char(char('0' + n / 10)), QLatin1Char(char('0' + n % 10))};
    return QString(digits, 2);
}

LocalTime parsed(const QString& iso) {
    const QDateTime time = QDateTime::fromString(iso, Qt::ISODate);
    if (!time.isValid())
        return {QDate(), iso.mid(11, 5)};
    const QDateTime local = time.toLocalTime();
    return {local.date(), local.toString(QStringLiteral("HH:mm"))};
}

// Converting every time through QDateTime costs about as much as laying out its entry. Messages
// arrive in order, so consecutive ones share an hour: the start of that hour is converted once
// and the minutes are added.
struct HourCache {
    QString hour;   // "YYYY-MM-DDTHH"
    QString zone;   // the text's offset part
    std::string tz; // the process's TZ when converted
    QDate localDate;
    int localMinutes = -1; // of the hour's start, in the local day
};

} // namespace

LocalTime localTime(const QString& iso) {
    if (iso.size() < 19)
        return {QDate(), QLatin1String("")};
    const qsizetype zoneAt = zoneStart(iso);
    if (zoneAt < 0)
        return parsed(iso);
    const QStringView hour = QStringView(iso).left(13);
    const QStringView zone = QStringView(iso).mid(zoneAt);
    const char* tzNow = std::getenv("TZ");
    const std::string tz = tzNow ? tzNow : "";

    thread_local HourCache cache;
    if (cache.localMinutes < 0 || cache.hour != hour || cache.zone != zone || cache.tz != tz) {
        const LocalTime start =
            parsed(hour.toString() + QStringLiteral(":00:00") + zone.toString());
        if (!start.date.isValid())
            return parsed(iso);
        cache.hour = hour.toString();
        cache.zone = zone.toString();
        cache.tz = tz;
        cache.localDate = start.date;
        cache.localMinutes = start.hhmm.left(2).toInt() * 60 + start.hhmm.mid(3, 2).toInt();
    }
    const int minutes = cache.localMinutes + iso.mid(14, 2).toInt();
    const QDate date = minutes >= 24 * 60 ? cache.localDate.addDays(1) : cache.localDate;
    const int ofDay = minutes % (24 * 60);
    return {date, twoDigits(ofDay / 60) + QLatin1Char(':') + twoDigits(ofDay % 60)};
}

} // namespace brindlewick
