#pragma once
// The outbox in the open room's transcript: the user's messages and files not yet confirmed
// stand at the bottom as they are taken (and when the room opens), marked waiting or failed;
// a failed one's menu offers "다시 보내기" and "삭제". The echo turns a row into the sent
// message (IncomingEvents); a refusal names its reason in the status line.

#include <QObject>
#include <QPoint>
#include <QString>

#include <memory>

class QMenu;

namespace brindlewick {

class ChatClient;
class Conversation;
class MainWindow;
class Outbox;
class RoomSession;
struct OutboxEntry;

class UnsentRows : public QObject {
    Q_OBJECT
public:
    static const QString kRetryText;  // "다시 보내기"
    static const QString kRemoveText; // "삭제"

    // Listens to the room after `conversation`, which empties the transcript when it changes.
    UnsentRows(ChatClient& client, Outbox& outbox, RoomSession& session, Conversation& conversation,
               MainWindow& window, QObject* parent = nullptr);
    ~UnsentRows() override;

    // The menu of an unsent row (null for others); its actions carry the client id.
    QMenu* menu() const { return menu_.get(); }
    // True when `row` is an unsent message; its menu is then shown instead of the usual one.
    bool showMenu(int row, const QPoint& globalPos);
    void retry(const QString& clientId);
    void remove(const QString& clientId);

private:
    void show(const OutboxEntry& entry);
    void roomChanged(const QString& room);

    ChatClient& client_;
    Outbox& outbox_;
    RoomSession& session_;
    Conversation& conversation_;
    MainWindow& window_;
    std::unique_ptr<QMenu> menu_;
};

} // namespace brindlewick
