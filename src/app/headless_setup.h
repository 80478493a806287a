#pragma once
// For programs that show the client without a desktop or a server: the screenshot tool and the
// accessibility probe.

#include "app_delegate.h"

#include <QString>
#include <QTemporaryDir>
#include <QtGlobal>

#include <memory>

namespace brindlewick {

class UserSession;
class Platform;

// Korean needs a CJK face, and such platforms take no cue from a desktop.
void useKoreanFont();
// A local port nothing listens on right now.
quint16 unusedLocalPort();

// The client with no server behind it (nothing listens on its ports), in a settings folder of its
// own so the user's sign-in stays untouched; launched, so the login window is up.
class OfflineClient {
public:
    explicit OfflineClient(std::unique_ptr<Platform> platform);
    AppDelegate& delegate() { return delegate_; }

private:
    static ServerConfig privateSettings(const QTemporaryDir& folder);

    QTemporaryDir settingsFolder_;
    AppDelegate delegate_;
};

// The signed-in window as a new user would see it in use, filled in locally: friends and rooms
// in the lists, and the conversation with 서준 open, holding messages, a file and an edited
// reply, as the server would deliver them. Returns the room's id.
QString showSampleConversation(UserSession& session);

} // namespace brindlewick
