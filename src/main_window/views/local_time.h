#pragma once
// Message times (ISO 8601 from the server) in the viewer's local time.

#include <QDate>
#include <QString>

namespace brindlewick {

struct LocalTime {
    QDate date;   // invalid when the text is no time
    QString hhmm; // "HH:mm"; "" for texts shorter than a full time
};

// Times with an offset ("Z", "+09:00") convert to the local zone; a time without one stays as
// given. Texts of 19 characters or more that do not parse show their characters 11..15.
LocalTime localTime(const QString& iso);

} // namespace brindlewick
