// The main window: widget tree, frames, texts and wiring. Frames are written top-left based
// (Qt's origin) for the 840 x 540 content area; layoutContent keeps them for any other size.

#include "divider_splitter.h"
#include "main_controller.h"
#include "segmented_control.h"
#include "user_picture.h"

#include <QApplication>
#include <QEvent>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QMainWindow>
#include <QMenu>
#include <QMenuBar>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QScreen>
#include <QTableView>
#include <QTextBrowser>
#include <QToolButton>
#include <QVBoxLayout>

namespace brindlewick {

namespace {

constexpr int kContentWidth = 840;
constexpr int kContentHeight = 540;
constexpr int kMinWindowWidth = 680;
constexpr int kMinWindowHeight = 440;
constexpr int kSplitHandleWidth = 1;
constexpr int kBottomPaneHeight = 90;

QColor darkGray() {
    return QColor::fromRgbF(1.0f / 3, 1.0f / 3, 1.0f / 3);
}

// Sizes are in logical pixels, which is what the tabled frames measure.
QFont systemFont(int pixelSize, bool bold = false) {
    QFont font = QApplication::font();
    font.setPixelSize(pixelSize);
    font.setBold(bold);
    return font;
}

QLabel* makeLabel(const QString& name, const QString& text, QWidget* parent) {
    auto* label = new QLabel(text, parent);
    label->setObjectName(name);
    label->setTextFormat(Qt::PlainText);
    return label;
}

void setTextColor(QWidget* widget, const QColor& color) {
    QPalette palette = widget->palette();
    palette.setColor(QPalette::WindowText, color);
    palette.setColor(QPalette::Text, color);
    widget->setPalette(palette);
}

QWidget* wrapInFrame(const QString& name, QWidget* inner, QWidget* parent) {
    auto* frame = new QWidget(parent);
    frame->setObjectName(name);
    auto* layout = new QVBoxLayout(frame);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->addWidget(inner);
    return frame;
}

QToolButton* makeCloseButton(const QString& name, QWidget* parent) {
    auto* button = new QToolButton(parent);
    button->setObjectName(name);
    button->setText(QStringLiteral("✕"));
    button->setAutoRaise(true);
    return button;
}

} // namespace

void MainController::showMain() {
    if (window_)
        return;
    // 1. The window.
    window_ = std::make_unique<QMainWindow>();
    window_->setObjectName(QStringLiteral("mainWindow"));
    window_->setWindowTitle(QStringLiteral("Brindlewick (Lion)"));
    if (pendingMenuBar_)
        window_->setMenuBar(pendingMenuBar_.release());
    content_ = new QWidget;
    content_->setObjectName(QStringLiteral("contentView"));
    content_->resize(kContentWidth, kContentHeight);
    window_->setCentralWidget(content_);

    // 2. Children in table order.
    buildContextMenus();
    buildSidebar(content_);
    buildHeader(content_);
    buildFindBar(content_);
    buildSplit(content_);
    attachSidebarModel();
    attachTranscript();
    attachFindBar();
    statusLabel = makeLabel(QStringLiteral("statusLabel"), QStringLiteral("연결 중…"), content_);
    setTextColor(statusLabel, darkGray());
    attachFiles();
    content_->installEventFilter(this);
    layoutContent(kContentWidth, kContentHeight);

    // The menu bar sits inside the window here (outside it on macOS); the content keeps its size.
    QMenuBar* menuBar = window_->menuWidget() ? window_->menuBar() : nullptr;
    const int menuHeight =
        menuBar && !menuBar->isNativeMenuBar() ? menuBar->sizeHint().height() : 0;
    window_->setMinimumSize(kMinWindowWidth, kMinWindowHeight);
    window_->resize(kContentWidth, kContentHeight + menuHeight);
    if (QScreen* screen = QGuiApplication::primaryScreen()) {
        QRect frame(QPoint(0, 0), window_->size());
        frame.moveCenter(screen->availableGeometry().center());
        window_->move(frame.topLeft());
    }

    // 3. to 5.
    window_->show();
    window_->raise();
    window_->activateWindow();
    client->connect();
    refreshLists();
}

void MainController::buildContextMenus() {
    sideContextMenu = std::make_unique<QMenu>(QStringLiteral("SideMenu"));
    sideContextMenu->setObjectName(QStringLiteral("sideContextMenu"));
    sideContextMenu->addAction(QStringLiteral("프로필 보기"), this,
                               &MainController::viewProfileClicked);
    sideContextMenu->addAction(QStringLiteral("대화 열기"), this, &MainController::sideMenuOpen);
    sideContextMenu->addAction(QStringLiteral("방 나가기"), this, &MainController::sideMenuLeave);

    chatContextMenu = std::make_unique<QMenu>(QStringLiteral("ChatMenu"));
    chatContextMenu->setObjectName(QStringLiteral("chatContextMenu"));
    chatContextMenu->addAction(QStringLiteral("답장하기"), this, &MainController::chatMenuReply);
    chatContextMenu->addAction(QStringLiteral("삭제하기"), this, &MainController::chatMenuDelete);
}

void MainController::buildSidebar(QWidget* content) {
    sideSeg = new SegmentedControl({QStringLiteral("친구"), QStringLiteral("채팅")}, content);
    sideSeg->setObjectName(QStringLiteral("sideSeg"));
    connect(sideSeg, &SegmentedControl::segmentClicked, this, &MainController::sideChanged);

    addBtn = new QPushButton(QStringLiteral("+"), content);
    addBtn->setObjectName(QStringLiteral("addBtn"));
    addBtn->setToolTip(QStringLiteral("친구 추가 또는 메모방 만들기"));
    connect(addBtn, &QPushButton::clicked, this, &MainController::addAction);

    auto* refresh = new QPushButton(QStringLiteral("↻"), content);
    refresh->setObjectName(QStringLiteral("refreshButton"));
    refresh->setToolTip(QStringLiteral("새로고침"));
    connect(refresh, &QPushButton::clicked, this, &MainController::refreshLists);
    refreshBtn_ = refresh;

    searchField = new QLineEdit(content);
    searchField->setObjectName(QStringLiteral("searchField"));
    searchField->setPlaceholderText(QStringLiteral("검색"));
    searchField->setClearButtonEnabled(true);
    connect(searchField, &QLineEdit::textChanged, this, &MainController::searchChanged);

    sideTable = new QTableView(content);
    sideTable->setObjectName(QStringLiteral("sideTable"));
    sideTable->horizontalHeader()->hide();
    sideTable->verticalHeader()->hide();
    sideTable->verticalHeader()->setSectionResizeMode(QHeaderView::Fixed);
    sideTable->verticalHeader()->setDefaultSectionSize(26);
    sideTable->setShowGrid(false);
    sideTable->setEditTriggers(QAbstractItemView::NoEditTriggers);
    sideTable->setSelectionBehavior(QAbstractItemView::SelectRows);
    sideTable->setSelectionMode(QAbstractItemView::SingleSelection);
    sideTable->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    sideTable->setVerticalScrollBarPolicy(Qt::ScrollBarAsNeeded);
    connect(sideTable, &QTableView::doubleClicked, this, [this](const QModelIndex& index) {
        sideClickedRow = index.row();
        sideDoubleClick();
    });
    sideTable->setContextMenuPolicy(Qt::CustomContextMenu);
    connect(sideTable, &QWidget::customContextMenuRequested, this, [this](const QPoint& pos) {
        sideClickedRow = sideTable->indexAt(pos).row();
        sideContextMenu->exec(sideTable->viewport()->mapToGlobal(pos));
    });
}

void MainController::buildHeader(QWidget* content) {
    roomAvatarView = makeLabel(QStringLiteral("roomAvatarView"), QString(), content);
    roomAvatarView->setScaledContents(true);
    roomAvatarView->setPixmap(genericUserPicture());
    roomAvatarView->hide();

    roomLabel = makeLabel(QStringLiteral("roomLabel"), QStringLiteral("방을 선택하세요"), content);
    roomLabel->setFont(systemFont(13, true));

    struct HeaderButton {
        const char* name;
        QString title;
        void (MainController::*action)();
    };
    const HeaderButton buttons[] = {
        {"findButton", QStringLiteral("대화 검색"), &MainController::openFindBar},
        {"leaveButton", QStringLiteral("방 나가기"), &MainController::leaveCurrentRoom},
        {"logoutButton", QStringLiteral("로그아웃"), &MainController::logoutAction},
    };
    for (const HeaderButton& spec : buttons) {
        auto* button = new QPushButton(spec.title, content);
        button->setObjectName(QString::fromLatin1(spec.name));
        connect(button, &QPushButton::clicked, this, spec.action);
        headerButtons_.append(button);
    }
}

void MainController::buildFindBar(QWidget* content) {
    findBar = new QWidget(content);
    findBar->setObjectName(QStringLiteral("findBar"));
    findBar->setAutoFillBackground(true);
    findBar->hide();

    findSearchField = new QLineEdit(findBar);
    findSearchField->setObjectName(QStringLiteral("findSearchField"));
    findSearchField->setClearButtonEnabled(true);
    connect(findSearchField, &QLineEdit::textChanged, this, &MainController::findSearchChanged);

    findPrevBtn = new QPushButton(QStringLiteral("이전"), findBar);
    findPrevBtn->setObjectName(QStringLiteral("findPrevBtn"));
    connect(findPrevBtn, &QPushButton::clicked, this, &MainController::findPrev);
    findNextBtn = new QPushButton(QStringLiteral("다음"), findBar);
    findNextBtn->setObjectName(QStringLiteral("findNextBtn"));
    connect(findNextBtn, &QPushButton::clicked, this, &MainController::findNext);

    findResultLabel = makeLabel(QStringLiteral("findResultLabel"), QStringLiteral(""), findBar);
    findResultLabel->setFont(systemFont(11));
    setTextColor(findResultLabel, darkGray());

    auto* close = makeCloseButton(QStringLiteral("findCloseButton"), findBar);
    connect(close, &QToolButton::clicked, this, &MainController::closeFindBar);
    findCloseBtn_ = close;
    findBar->installEventFilter(this);
}

void MainController::buildSplit(QWidget* content) {
    auto* split = new DividerSplitter(Qt::Vertical, content);
    split->setObjectName(QStringLiteral("rightSplit"));
    split->setHandleWidth(kSplitHandleWidth);
    split->setDividerLimits([this](const QSplitter* s, double p,
                                   int i) { return splitViewConstrainMinCoordinate(s, p, i); },
                            [this](const QSplitter* s, double p, int i) {
                                return splitViewConstrainMaxCoordinate(s, p, i);
                            });
    rightSplit = split;

    chatView = new QTextBrowser;
    chatView->setObjectName(QStringLiteral("chatView"));
    chatView->setReadOnly(true);
    chatView->setOpenLinks(false);
    chatView->setOpenExternalLinks(false);
    chatView->setFont(systemFont(12));
    chatView->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    chatView->setVerticalScrollBarPolicy(Qt::ScrollBarAsNeeded);
    QPalette palette = chatView->palette();
    palette.setColor(QPalette::Link, QColor::fromRgbF(0.1f, 0.4f, 0.8f, 1.0f));
    chatView->setPalette(palette);
    chatView->setContextMenuPolicy(Qt::CustomContextMenu);
    connect(chatView, &QWidget::customContextMenuRequested, this, [this](const QPoint& pos) {
        chatContextMenu->exec(chatView->viewport()->mapToGlobal(pos));
    });
    chatScroll = wrapInFrame(QStringLiteral("chatScroll"), chatView, split);

    bottomContainer = new QWidget(split);
    bottomContainer->setObjectName(QStringLiteral("bottomContainer"));
    bottomContainer->resize(576, kBottomPaneHeight);

    replyBar = new QWidget(bottomContainer);
    replyBar->setObjectName(QStringLiteral("replyBar"));
    replyBar->hide();
    replyPreviewLabel = makeLabel(QStringLiteral("replyPreviewLabel"), QString(), replyBar);
    replyPreviewLabel->setFont(systemFont(11));
    setTextColor(replyPreviewLabel, darkGray());
    auto* cancel = makeCloseButton(QStringLiteral("replyCancelButton"), replyBar);
    connect(cancel, &QToolButton::clicked, this, &MainController::cancelReply);
    replyCancelBtn_ = cancel;
    replyBar->installEventFilter(this);

    composeView = new QPlainTextEdit;
    composeView->setObjectName(QStringLiteral("composeView"));
    composeView->setFont(systemFont(12));
    composeView->setLineWrapMode(QPlainTextEdit::WidgetWidth);
    composeView->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    composeView->setVerticalScrollBarPolicy(Qt::ScrollBarAsNeeded);
    composeView->setTabChangesFocus(false);
    composeView->installEventFilter(this);
    composeScroll = wrapInFrame(QStringLiteral("composeScroll"), composeView, bottomContainer);
    composeScroll->setMinimumHeight(24);

    attachBtn = new QPushButton(QStringLiteral("파일"), bottomContainer);
    attachBtn->setObjectName(QStringLiteral("attachBtn"));
    connect(attachBtn, &QPushButton::clicked, this, &MainController::attachFile);
    sendBtn = new QPushButton(QStringLiteral("전송"), bottomContainer);
    sendBtn->setObjectName(QStringLiteral("sendBtn"));
    connect(sendBtn, &QPushButton::clicked, this, &MainController::sendMessage);
    bottomContainer->installEventFilter(this);

    split->addWidget(chatScroll);
    split->addWidget(bottomContainer);
    split->setStretchFactor(0, 1);
    split->setStretchFactor(1, 0);
    // The transcript takes what the compose area's 90 points and the divider leave.
    split->setSizes({446 - kBottomPaneHeight - kSplitHandleWidth, kBottomPaneHeight});
    layoutBottomContainer();
}

void MainController::layoutContent(int width, int height) {
    if (!content_)
        return;
    // Sidebar: fixed width, fills the height.
    sideSeg->setGeometry(12, 18, 140, 24);
    addBtn->setGeometry(156, 16, 42, 28);
    refreshBtn_->setGeometry(202, 16, 34, 28);
    searchField->setGeometry(12, 52, 224, 22);
    sideTable->setGeometry(12, 82, 224, height - 130);
    // Header row: stays at the top; the buttons keep to the right edge.
    roomAvatarView->setGeometry(250, 18, 26, 26);
    roomLabel->setGeometry(282, 20, width - 550, 22);
    const int buttonX[] = {width - 260, width - 175, width - 90};
    const int buttonWidth[] = {80, 80, 75};
    for (int i = 0; i < headerButtons_.size(); ++i)
        headerButtons_[i]->setGeometry(buttonX[i], 16, buttonWidth[i], 28);
    // The find bar lies over the top of the split view and follows its width.
    findBar->setGeometry(250, 48, width - 264, 30);
    rightSplit->setGeometry(250, 50, width - 264, height - 94);
    statusLabel->setGeometry(12, height - 34, width - 40, 20);
    layoutFindBar();
}

void MainController::layoutFindBar() {
    const int width = findBar->width();
    findSearchField->setGeometry(4, 3, 200, 24);
    findPrevBtn->setGeometry(210, 2, 40, 26);
    findNextBtn->setGeometry(252, 2, 40, 26);
    findResultLabel->setGeometry(300, 6, 180, 20);
    findCloseBtn_->setGeometry(width - 28, 4, 22, 22);
}

void MainController::layoutReplyBar() {
    const int width = replyBar->width();
    replyPreviewLabel->setGeometry(4, 4, width - 46, 18);
    replyCancelBtn_->setGeometry(width - 28, 1, 22, 22);
}

void MainController::layoutBottomContainer() {
    const int width = bottomContainer->width();
    const int height = bottomContainer->height();
    // Reply bar on top while a reply is pending; the composer fills the rest.
    if (replyBar->isVisibleTo(bottomContainer)) {
        replyBar->setGeometry(0, 0, width, 24);
        composeScroll->setGeometry(0, 24, width - 156, height - 24);
    } else {
        replyBar->setGeometry(0, 2, width, 24);
        composeScroll->setGeometry(0, composeTopInset_, width - 156, height - composeTopInset_);
    }
    // "파일" and "전송" keep their distance to the right and bottom edges.
    attachBtn->setGeometry(width - 150, height - 32, 66, 28);
    sendBtn->setGeometry(width - 80, height - 32, 76, 28);
    // A hidden bar gets no resize events; place its children now.
    layoutReplyBar();
}

bool MainController::eventFilter(QObject* watched, QEvent* event) {
    if (event->type() == QEvent::Resize) {
        if (watched == content_)
            layoutContent(content_->width(), content_->height());
        else if (watched == bottomContainer)
            layoutBottomContainer();
        else if (watched == findBar)
            layoutFindBar();
        else if (watched == replyBar)
            layoutReplyBar();
    } else if (event->type() == QEvent::KeyPress && watched == composeView) {
        return textViewDoCommandBySelector(composeView, static_cast<QKeyEvent*>(event));
    }
    return QObject::eventFilter(watched, event);
}

} // namespace brindlewick
