#pragma once
// The main window's place and each phone's last open room, kept in the user's settings across
// restarts: "window/position", "window/size", "window/composerHeight", "window/maximized" and
// "lastRoom/<phone>".

#include "main_window.h"

#include <QSettings>
#include <QString>

namespace brindlewick {

struct RememberedRoom {
    QString room; // empty: none
    QString title;
};

WindowPlacement loadPlacement(QSettings& settings);
void savePlacement(QSettings& settings, const WindowPlacement& placement);
RememberedRoom loadLastRoom(QSettings& settings, const QString& phone);
// An empty room forgets it (the room was left).
void saveLastRoom(QSettings& settings, const QString& phone, const RememberedRoom& room);

} // namespace brindlewick
