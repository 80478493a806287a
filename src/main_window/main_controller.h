#pragma once
// The controller of the main window: one per sign-in. It owns the chat connection of that
// sign-in and all state the window shows. Its methods are spread over one source file per
// concern (layout, sidebar, transcript, composer, server events, files, avatars, find,
// directory actions, notifications).

#include "avatar_requests.h"
#include "chat_client.h"
#include "chat_client_delegate.h"
#include "directory.h"
#include "server_config.h"
#include "side_rows.h"
#include "transcript_view.h"

#include <QHash>
#include <QImage>
#include <QList>
#include <QObject>
#include <QPointer>
#include <QString>
#include <QUrl>
#include <QVariantMap>

#include <functional>
#include <memory>
#include <optional>

class QEvent;
class QKeyEvent;
class QLabel;
class QLineEdit;
class QMainWindow;
class QMenu;
class QMenuBar;
class QPlainTextEdit;
class QProgressBar;
class QPushButton;
class QSplitter;
class QTableView;
class QTextBrowser;
class QTimer;
class QWidget;

namespace brindlewick {

class Platform;
class SegmentedControl;
class SidebarModel;
class FrameBacklog;

class MainController : public QObject, public ChatClientDelegate {
    Q_OBJECT
public:
    static constexpr int kReconnectDelayMs = 3000;
    static constexpr double kDividerMinFromTop = 120.0;
    static constexpr double kDividerMinFromBottom = 60.0;

    MainController(const QString& phone, const QString& nick, const QString& status,
                   const ServerConfig& config, Platform& platform, QObject* parent = nullptr);
    ~MainController() override;

    // --- Fields. Plain, as every concern's file reads and writes them. Views are owned by
    // the window and stay null until showMain. ---
    std::unique_ptr<ChatClient> client;
    QTableView* sideTable = nullptr;
    QSplitter* rightSplit = nullptr;
    QWidget* chatScroll = nullptr;
    QTextBrowser* chatView = nullptr;
    QWidget* bottomContainer = nullptr;
    QWidget* composeScroll = nullptr;
    QPlainTextEdit* composeView = nullptr;
    QLabel* statusLabel = nullptr;
    QLabel* roomAvatarView = nullptr;
    QLabel* roomLabel = nullptr;
    SegmentedControl* sideSeg = nullptr;
    QPushButton* attachBtn = nullptr;
    QPushButton* sendBtn = nullptr;
    QList<FriendRecord> friends;
    QList<RoomRecord> rooms;
    QList<SideRow> sideRows;           // what the sidebar shows, in order
    SidebarModel* sideModel = nullptr; // sideTable's model, over sideRows
    QString currentRoom;               // null or empty: no room open
    qint64 sideMode = 0;               // 0 friends, anything else chats
    QPointer<QTimer> reconnectTimer;
    QLineEdit* searchField = nullptr;
    QPushButton* addBtn = nullptr;
    QWidget* replyBar = nullptr;
    QLabel* replyPreviewLabel = nullptr;
    QString replyMsgId;
    QString replySender;
    // Draws into chatView and remembers its entries (chatItems) and find state.
    std::unique_ptr<TranscriptView> transcript;
    std::unique_ptr<QMenu> chatContextMenu;
    std::unique_ptr<QMenu> sideContextMenu;
    bool uploading = false;
    QHash<QString, QImage> avatarCache;
    std::unique_ptr<QWidget> profileWindow;
    // Picture downloads running or lately failed, so a repaint does not ask again.
    AvatarRequests avatarRequests;
    QProgressBar* uploadProgressBar = nullptr; // beside the status line while uploading
    QWidget* findBar = nullptr;
    QLineEdit* findSearchField = nullptr;
    QLabel* findResultLabel = nullptr;
    QPushButton* findPrevBtn = nullptr;
    QPushButton* findNextBtn = nullptr;
    // The sidebar row last double-clicked or right-clicked; -1 for none.
    int sideClickedRow = -1;

    const std::function<void()>& onLogout() const { return onLogout_; }
    void setOnLogout(std::function<void()> callback) { onLogout_ = std::move(callback); }

    // The application's menu bar, placed in the window by showMain. Takes ownership.
    void setMenuBar(QMenuBar* menuBar);
    QMainWindow* window() const { return window_.get(); }
    const ServerConfig& config() const { return config_; }
    Platform& platform() const { return platform_; }
    // Closes the window; it stays until the controller goes.
    void close();

    // --- Status line and divider limits ---
    void setStatus(const QString& text);
    double splitViewConstrainMinCoordinate(const QSplitter* splitView, double proposed,
                                           int dividerIndex) const;
    double splitViewConstrainMaxCoordinate(const QSplitter* splitView, double proposed,
                                           int dividerIndex) const;

    // --- Window ---
    void showMain();

    // --- Sidebar ---
    void sideChanged();
    void searchChanged();
    void rebuildSideRows();
    void sideDoubleClick();
    void sideMenuOpen();
    int numberOfRowsInTableView() const;
    QVariant tableViewObjectValue(const QString& columnIdentifier, int row) const;
    // The row at `row`, or nothing when out of range.
    std::optional<SideRow> sideRowAt(int row) const;

    // --- Transcript ---
    static QString formatTimeISO(const QString& time);
    void appendChat(const QString& text);
    void appendChatMsgId(const QString& msgId, const QString& sender, const QString& text,
                         const QString& time, bool mine, const QString& replyTo);
    void appendFileChatFrom(const QString& sender, const QString& name, const QString& fileId,
                            const QString& msgId, const QString& time, bool mine);
    void clearChat();
    // The remembered entries of the open room, oldest first.
    const QList<ChatItem>& chatItems() const;

    // --- Open room, composing and replies ---
    void openRoom(const QString& room, const QString& title);
    void sendMessage();
    // Key handling of the two text views; true when the key was taken.
    bool textViewDoCommandBySelector(QObject* textView, QKeyEvent* event);
    void cancelReply();
    void setReplyToMsgId(const QString& msgId, const QString& sender, const QString& preview);
    void chatMenuReply();
    void chatMenuDelete();

    // --- Chat connection events ---
    void chatClientDidConnect() override;
    void chatClientDidDisconnect(const QString& reason) override;
    void reconnect();
    bool isMineSender(const QString& sender) const;
    void chatClientDidReceiveType(quint8 type, const QStringList& fields) override;

    // --- Files ---
    void attachFile();
    void saveFileId(const QString& fileId, const QString& suggestedName);
    bool textViewClickedOnLink(const QUrl& link, int charIndex);
    bool textViewClickedOnLink(const QString& link, int charIndex);
    // A file dropped on the window: sent as if it had been chosen in the open panel.
    void attachDroppedFile(const QString& path);

    // --- Avatars and profile viewer ---
    QImage imageForFileId(const QString& fileId); // null image: not (yet) available
    QString profilePicForPhoneOrNick(const QString& phoneOrNick) const;
    // The picture id of the other person of a "dm:" room (at least three parts), or "".
    QString peerPictureInDmRoom(const QString& room) const;
    QString profilePicForSender(const QString& sender) const;
    void viewProfileClicked();
    void showProfileViewerFor(const std::optional<SideRow>& row);
    void profileChatAction();

    // --- Transcript search ---
    // The find state is the transcript view's; these read it (empty / -1 before showMain).
    const QList<TextRange>& findMatches() const;
    qint64 currentFindIndex() const;
    void openFindBar();
    void closeFindBar();
    void findSearchChanged();
    void highlightMatchAtIndex(qint64 index);
    void findNext();
    void findPrev();

    // --- Friend and room management ---
    void sideMenuLeave();
    void addAction();
    void addFriendAction();
    void createMemoRoom();
    void leaveCurrentRoom();

    // --- Logout and notifications ---
    void logoutAction();
    void maybeNotifyRoom(const QString& room, const QString& sender, const QString& body);

    // --- Directory ---
    std::optional<QString> httpGetPath(const QString& path) const;
    static QList<FriendRecord> parseFriendObjects(const QString& json);
    static QList<RoomRecord> parseRoomObjects(const QString& json);
    void refreshLists();

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void buildSidebar(QWidget* content);
    void buildHeader(QWidget* content);
    void buildFindBar(QWidget* content);
    void buildSplit(QWidget* content);
    void buildContextMenus();
    // Places the children of the content view for its current size.
    void layoutContent(int width, int height);
    void layoutBottomContainer();
    void layoutFindBar();
    void layoutReplyBar();
    // Put the sidebar model and the transcript view over the views showMain built.
    void attachSidebarModel();
    void attachTranscript();
    // One received frame, handled now; chatClientDidReceiveType spreads bursts over turns.
    void handleFrame(quint8 type, const QStringList& fields);
    void drainFrames();
    // Queues `handler` behind waiting frames; false when nothing waits (the caller goes on).
    bool deferBehindBacklog(std::function<void()> handler);
    // Counter and Return of the find bar, once the transcript view exists.
    void attachFindBar();
    // Link clicks, file drops and the upload's progress bar.
    void attachFiles();
    // Beeps during an upload, alerts without an open room.
    bool mayStartUpload();
    void startUpload(const QString& path);
    void requestPicture(const QString& fileId);
    void pictureArrived(const QString& fileId, const QImage& image);

    ServerConfig config_;
    Platform& platform_;
    std::function<void()> onLogout_;
    std::unique_ptr<QMenuBar> pendingMenuBar_;
    std::unique_ptr<QMainWindow> window_;
    QWidget* content_ = nullptr;
    QWidget* refreshBtn_ = nullptr;
    QList<QWidget*> headerButtons_; // find, leave, logout: kept at the right edge
    QWidget* findCloseBtn_ = nullptr;
    QWidget* replyCancelBtn_ = nullptr;
    // Top edge of the composer while no reply is pending; the reply bar code moves it to 0.
    int composeTopInset_ = 4;
    FrameBacklog* frameBacklog_ = nullptr; // child object; frames waiting for the next turn
};

} // namespace brindlewick
