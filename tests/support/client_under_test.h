#pragma once
// One signed-in user's client as the application builds it (a UserSession run by a
// MainController), with what tests do to it and read from it. Header-only: only tests that link
// the main window include it.

#include "chat_client.h"
#include "chat_events.h"
#include "directory_service.h"
#include "event_loop.h"
#include "file_actions.h"
#include "main_controller.h"
#include "main_window.h"
#include "outbox.h"
#include "room_session.h"
#include "sidebar_controller.h"
#include "transcript_view.h"
#include "user_session.h"

#include <QMainWindow>
#include <QPlainTextEdit>
#include <QString>

#include <functional>
#include <utility>

namespace brindlewick::test {

class ClientUnderTest {
public:
    ClientUnderTest(const QString& phone, const QString& nick, const QString& status,
                    const ServerConfig& config, Platform& platform)
        : session_(phone, nick, status, config, platform), controller_(session_, platform) {}

    // What the application does with it.
    void showMain() { controller_.showMain(); }
    void close() { controller_.close(); }
    void setMenuBar(QMenuBar* menuBar) { controller_.setMenuBar(menuBar); }
    void setOnLogout(std::function<void()> callback) {
        controller_.setOnLogout(std::move(callback));
    }
    void openFindBar() { controller_.openFindBar(); }
    QMainWindow* window() const { return controller_.window(); }

    // What the user does.
    void openRoom(const QString& room, const QString& title) { session_.room->open(room, title); }
    void closeRoom() { session_.room->close(); }
    void showSidebar(SidebarController::Mode mode) { session_.sidebar->setMode(mode); }
    // The file button: the platform's file dialog, then the upload.
    void attachFile() { session_.files->attachFile(); }
    // What the row's context menu item does.
    void actOnSidebarRow(int row, SidebarController::RowAction action) {
        session_.sidebar->actOnRow(row, action);
    }

    // What the user sees.
    QString openRoomId() const { return session_.room->room(); }
    TranscriptView& transcript() const { return session_.window->transcript(); }
    QPlainTextEdit* composer() const { return session_.window->composer(); }
    QString statusText() const { return session_.window->statusText(); }
    QString headerText() const { return session_.window->headerText(); }
    SidebarController::Mode sidebarMode() const { return session_.sidebar->mode(); }
    const QList<SideRow>& sidebarRows() const { return session_.sidebar->rows(); }
    bool uploading() const { return session_.files->uploading(); }

    // A frame from the server, handled as the connection would hand it over.
    void receiveFrame(quint8 type, const FieldList& fields) {
        session_.events->frameReceived(type, fields);
    }
    // Waits for the server's sign-in answer: the outbox sends from then on.
    bool waitSignedIn(int timeoutMs = kEventWaitMs) {
        return waitUntil([this] { return session_.outbox->signedIn(); }, timeoutMs);
    }
    // Waits until no request for the lists runs.
    bool waitForLists(int timeoutMs = kEventWaitMs) {
        return waitUntil([this] { return !session_.directory->refreshing(); }, timeoutMs);
    }

    // The objects behind it, for a test that drives or reads one of them directly.
    UserSession& session() { return session_; }
    const UserSession& session() const { return session_; }

private:
    UserSession session_;
    MainController controller_;
};

} // namespace brindlewick::test
