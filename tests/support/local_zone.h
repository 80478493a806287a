#pragma once
// Sets the process's time zone for one scope and restores it after.

#include <QByteArray>
#include <QtGlobal>

#include <ctime>

namespace brindlewick {

class LocalZone {
public:
    explicit LocalZone(const char* zone)
        : old_(qgetenv("TZ")), had_(qEnvironmentVariableIsSet("TZ")) {
        qputenv("TZ", zone);
        tzset();
    }
    ~LocalZone() {
        if (had_)
            qputenv("TZ", old_);
        else
            qunsetenv("TZ");
        tzset();
    }
    LocalZone(const LocalZone&) = delete;
    LocalZone& operator=(const LocalZone&) = delete;

private:
    QByteArray old_;
    bool had_;
};

} // namespace brindlewick
