#include "window_memory.h"

namespace brindlewick {

namespace {

// Phones are digits, but a key must never become a path of groups.
QString roomKey(const QString& phone) {
    return QStringLiteral("lastRoom/") + QString::fromLatin1(phone.toUtf8().toHex());
}

} // namespace

WindowPlacement loadPlacement(QSettings& settings) {
    WindowPlacement placement;
    // Anything else than what was written (an edited file) counts as nothing remembered.
    const QVariant position = settings.value(QStringLiteral("window/position"));
    const QVariant size = settings.value(QStringLiteral("window/size"));
    if (position.canConvert<QPoint>() && size.canConvert<QSize>()) {
        placement.position = position.toPoint();
        placement.size = size.toSize();
        if (!placement.size.isValid() || placement.size.width() > 100000 ||
            placement.size.height() > 100000)
            placement.size = QSize();
    }
    placement.composerHeight = settings.value(QStringLiteral("window/composerHeight")).toInt();
    // Only what savePlacement writes: a stray text must not maximise the window.
    placement.maximized =
        settings.value(QStringLiteral("window/maximized")).toString() == QLatin1String("true");
    return placement;
}

void savePlacement(QSettings& settings, const WindowPlacement& placement) {
    settings.setValue(QStringLiteral("window/position"), placement.position);
    settings.setValue(QStringLiteral("window/size"), placement.size);
    settings.setValue(QStringLiteral("window/composerHeight"), placement.composerHeight);
    settings.setValue(QStringLiteral("window/maximized"), placement.maximized);
}

RememberedRoom loadLastRoom(QSettings& settings, const QString& phone) {
    const QStringList stored = settings.value(roomKey(phone)).toStringList();
    if (stored.size() != 2 || stored[0].isEmpty())
        return {};
    return {stored[0], stored[1]};
}

void saveLastRoom(QSettings& settings, const QString& phone, const RememberedRoom& room) {
    if (room.room.isEmpty())
        settings.remove(roomKey(phone));
    else
        settings.setValue(roomKey(phone), QStringList{room.room, room.title});
}

} // namespace brindlewick
