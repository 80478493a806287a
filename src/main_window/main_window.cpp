// The main window: widget tree, texts and what the widgets report. Frames are in
// main_window_layout.cpp.

#include "main_window.h"

#include "composer_edit.h"
#include "divider_splitter.h"
#include "file_drop.h"
#include "message_list_view.h"
#include "readable_color.h"
#include "segmented_control.h"
#include "transcript_view.h"
#include "user_picture.h"
#include "window_fit.h"

#include <QAction>
#include <QApplication>
#include <QEvent>
#include <QHeaderView>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QMainWindow>
#include <QMenu>
#include <QMenuBar>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QScreen>
#include <QShortcut>
#include <QTableView>
#include <QTextBrowser>
#include <QToolButton>
#include <QVBoxLayout>

#include <algorithm>

namespace brindlewick {

namespace {

constexpr int kMinWindowWidth = 680;
constexpr int kMinWindowHeight = 440;

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

MainWindow::MainWindow(TranscriptModel* transcriptModel, QObject* parent)
    : QObject(parent), transcriptModel_(transcriptModel) {
    window_ = std::make_unique<QMainWindow>();
    window_->setObjectName(QStringLiteral("mainWindow"));
    window_->setWindowTitle(QStringLiteral("Brindlewick"));
    content_ = new QWidget;
    content_->setObjectName(QStringLiteral("contentView"));
    content_->resize(kContentWidth, kContentHeight);
    window_->setCentralWidget(content_);

    // Children in table order.
    buildSidebar();
    buildHeader();
    buildFindBar();
    buildSplit();
    buildStatusLine();
    content_->installEventFilter(this);
    layoutContent(kContentWidth, kContentHeight);
}

MainWindow::~MainWindow() {
    // The views go with the window; nothing may reach this object through them now.
    transcript_.reset();
    window_->removeEventFilter(this);
    content_->removeEventFilter(this);
    composeView_->removeEventFilter(this);
    window_.reset();
}

void MainWindow::setMenuBar(QMenuBar* menuBar) {
    window_->setMenuBar(menuBar);
}

void MainWindow::show() {
    // The menu bar sits inside the window here (outside it on macOS); the content keeps its size.
    QMenuBar* menuBar = window_->menuWidget() ? window_->menuBar() : nullptr;
    const int menuHeight =
        menuBar && !menuBar->isNativeMenuBar() ? menuBar->sizeHint().height() : 0;
    // Small screens and large scale factors: the whole window, frame included, stays on the
    // screen.
    const QScreen* screen =
        window_->screen() ? window_->screen() : QGuiApplication::primaryScreen();
    const QRect available = screen ? screen->availableGeometry() : QRect();
    QList<QRect> areas;
    for (const QScreen* each : QGuiApplication::screens())
        areas.append(each->availableGeometry());
    const auto place = [&](const QSize& decoration) {
        const bool remembered = !remembered_.size.isEmpty();
        const WindowFit fit = fitWindowOnScreen(
            QSize(kMinWindowWidth, kMinWindowHeight),
            remembered ? remembered_.size : QSize(kContentWidth, kContentHeight + menuHeight),
            available.adjusted(0, 0, -decoration.width(), -decoration.height()));
        window_->setMinimumSize(fit.minimum);
        QRect frame = fit.frame;
        // A remembered place off every screen (a monitor since unplugged) opens centred.
        if (remembered)
            if (const std::optional<QRect> kept =
                    keepOnScreens(QRect(remembered_.position, remembered_.size + decoration), areas,
                                  fit.minimum + decoration))
                frame = QRect(kept->topLeft(), kept->size() - decoration);
        window_->resize(frame.size());
        if (!available.isEmpty())
            window_->move(frame.topLeft()); // the frame's corner
    };
    place(QSize());
    if (remembered_.maximized) {
        // Kept as the normal geometry, without the frame (see placement()).
        window_->setGeometry(QRect(window_->pos(), window_->size()));
        // The platform's window first: some platforms drop a state set before it exists.
        window_->winId();
        window_->showMaximized();
    } else {
        window_->show();
        // Title bar and borders are known once the window is shown.
        const QSize decoration = window_->frameGeometry().size() - window_->size();
        if (decoration != QSize(0, 0))
            place(decoration);
    }
    if (remembered_.composerHeight > 0) {
        // The divider keeps its limits: the transcript and the compose area stay usable.
        const int total = rightSplit_->height() - kSplitHandleWidth;
        const int composer =
            std::clamp(remembered_.composerHeight, static_cast<int>(kDividerMinFromBottom),
                       std::max(static_cast<int>(kDividerMinFromBottom),
                                total - static_cast<int>(kDividerMinFromTop)));
        rightSplit_->setSizes({total - composer, composer});
    }
    window_->raise();
    window_->activateWindow();
}

WindowPlacement MainWindow::placement() const {
    WindowPlacement placement;
    placement.position = window_->pos();
    placement.size = window_->size();
    // Full screen comes back maximised: a window that fills the screen without a way out is a
    // surprise after a restart. The normal place is kept without its frame, which differs
    // between the states or is not there at all.
    if (window_->isMaximized() || window_->isFullScreen()) {
        const QRect normal = window_->normalGeometry();
        if (normal.isValid()) {
            placement.position = normal.topLeft();
            placement.size = normal.size();
        }
        placement.maximized = true;
    }
    placement.composerHeight = rightSplit_->sizes().value(1);
    return placement;
}

void MainWindow::close() {
    window_->close();
}

void MainWindow::buildSidebar() {
    sideSeg_ = new SegmentedControl({QStringLiteral("친구"), QStringLiteral("채팅")}, content_);
    sideSeg_->setObjectName(QStringLiteral("sideSeg"));

    addBtn_ = new QPushButton(QStringLiteral("+"), content_);
    addBtn_->setObjectName(QStringLiteral("addBtn"));
    addBtn_->setToolTip(QStringLiteral("친구 추가 또는 메모방 만들기"));
    addBtn_->setAccessibleName(addBtn_->toolTip());
    connect(addBtn_, &QPushButton::clicked, this, &MainWindow::addRequested);

    refreshBtn_ = new QPushButton(QStringLiteral("↻"), content_);
    refreshBtn_->setObjectName(QStringLiteral("refreshButton"));
    refreshBtn_->setToolTip(QStringLiteral("새로고침"));
    refreshBtn_->setAccessibleName(refreshBtn_->toolTip());
    connect(refreshBtn_, &QPushButton::clicked, this, &MainWindow::refreshRequested);

    searchField_ = new QLineEdit(content_);
    searchField_->setObjectName(QStringLiteral("searchField"));
    searchField_->setPlaceholderText(QStringLiteral("검색"));
    searchField_->setAccessibleName(QStringLiteral("검색"));
    searchField_->setClearButtonEnabled(true);

    sideTable_ = new QTableView(content_);
    sideTable_->setObjectName(QStringLiteral("sideTable"));
    sideTable_->setAccessibleName(QStringLiteral("친구 및 채팅 목록"));
    sideTable_->horizontalHeader()->hide();
    sideTable_->verticalHeader()->hide();
    sideTable_->verticalHeader()->setSectionResizeMode(QHeaderView::Fixed);
    sideTable_->verticalHeader()->setDefaultSectionSize(44); // two lines: name, last message
    sideTable_->setShowGrid(false);
    sideTable_->setEditTriggers(QAbstractItemView::NoEditTriggers);
    sideTable_->setSelectionBehavior(QAbstractItemView::SelectRows);
    sideTable_->setSelectionMode(QAbstractItemView::SingleSelection);
    sideTable_->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    sideTable_->setVerticalScrollBarPolicy(Qt::ScrollBarAsNeeded);
    sideTable_->setContextMenuPolicy(Qt::CustomContextMenu);
    // Tab leaves the list instead of walking its cells.
    sideTable_->setTabKeyNavigation(false);

    // Says why the list is empty; lies over the table, which stays usable.
    sideHint_ = makeLabel(QStringLiteral("sideEmptyHint"), QString(), content_);
    sideHint_->setAlignment(Qt::AlignCenter);
    sideHint_->setWordWrap(true);
    sideHint_->setFont(systemFont(11));
    keepReadableText(sideHint_, darkGray());
    sideHint_->setAttribute(Qt::WA_TransparentForMouseEvents);
    sideHint_->hide();
}

void MainWindow::setSidebarHint(const QString& text) {
    sideHint_->setText(text);
    sideHint_->setVisible(!text.isEmpty());
}

void MainWindow::buildHeader() {
    roomAvatarView_ = makeLabel(QStringLiteral("roomAvatarView"), QString(), content_);
    roomAvatarView_->setScaledContents(true);
    roomAvatarView_->setPixmap(genericUserPicture());
    roomAvatarView_->hide();

    roomLabel_ =
        makeLabel(QStringLiteral("roomLabel"), QStringLiteral("방을 선택하세요"), content_);
    roomLabel_->setFont(systemFont(13, true));

    struct HeaderButton {
        const char* name;
        QString title;
        void (MainWindow::*action)();
    };
    const HeaderButton buttons[] = {
        {"findButton", QStringLiteral("대화 검색"), &MainWindow::openFindBar},
        {"leaveButton", QStringLiteral("방 나가기"), &MainWindow::leaveRoomRequested},
        {"logoutButton", QStringLiteral("로그아웃"), &MainWindow::logoutRequested},
    };
    for (const HeaderButton& spec : buttons) {
        auto* button = new QPushButton(spec.title, content_);
        button->setObjectName(QString::fromLatin1(spec.name));
        button->setAccessibleName(spec.title);
        connect(button, &QPushButton::clicked, this, spec.action);
        headerButtons_.append(button);
    }
}

void MainWindow::buildFindBar() {
    findBar_ = new QWidget(content_);
    findBar_->setObjectName(QStringLiteral("findBar"));
    findBar_->setAutoFillBackground(true);
    findBar_->hide();

    findSearchField_ = new QLineEdit(findBar_);
    findSearchField_->setObjectName(QStringLiteral("findSearchField"));
    findSearchField_->setAccessibleName(QStringLiteral("대화 검색어"));
    findSearchField_->setClearButtonEnabled(true);
    findPrevBtn_ = new QPushButton(QStringLiteral("이전"), findBar_);
    findPrevBtn_->setObjectName(QStringLiteral("findPrevBtn"));
    findPrevBtn_->setAccessibleName(QStringLiteral("이전 검색 결과"));
    findNextBtn_ = new QPushButton(QStringLiteral("다음"), findBar_);
    findNextBtn_->setObjectName(QStringLiteral("findNextBtn"));
    findNextBtn_->setAccessibleName(QStringLiteral("다음 검색 결과"));

    findResultLabel_ = makeLabel(QStringLiteral("findResultLabel"), QStringLiteral(""), findBar_);
    findResultLabel_->setFont(systemFont(11));
    keepReadableText(findResultLabel_, darkGray());

    auto* close = makeCloseButton(QStringLiteral("findCloseButton"), findBar_);
    connect(close, &QToolButton::clicked, this, &MainWindow::closeFindBar);
    findCloseBtn_ = close;
    findBar_->installEventFilter(this);
}

void MainWindow::buildSplit() {
    auto* split = new DividerSplitter(Qt::Vertical, content_);
    split->setObjectName(QStringLiteral("rightSplit"));
    split->setHandleWidth(kSplitHandleWidth);
    split->setDividerLimits(
        [this](const QSplitter* s, double p, int i) { return dividerMinimum(s, p, i); },
        [this](const QSplitter* s, double p, int i) { return dividerMaximum(s, p, i); });
    rightSplit_ = split;

    chatView_ = new MessageListView;
    chatView_->setObjectName(QStringLiteral("chatView"));
    chatView_->setAccessibleName(QStringLiteral("대화 내용"));
    chatScroll_ = wrapInFrame(QStringLiteral("chatScroll"), chatView_, split);
    transcript_ = std::make_unique<TranscriptView>(chatView_, transcriptModel_);
    connect(transcript_.get(), &TranscriptView::fileLinkClicked, this,
            &MainWindow::fileLinkClicked);

    // The find bar searches the transcript; its state is the transcript view's.
    connect(transcript_.get(), &TranscriptView::findCounterChanged, findResultLabel_,
            &QLabel::setText);
    connect(findSearchField_, &QLineEdit::textChanged, this, &MainWindow::searchTranscript);
    // Return steps on while the query is the one searched; a changed query is searched anew.
    connect(findSearchField_, &QLineEdit::returnPressed, this, [this] {
        if (findSearchField_->text() == searchedText_ && !searchedText_.isEmpty())
            transcript_->findNext();
        else
            searchTranscript();
    });
    auto* escape = new QShortcut(QKeySequence(Qt::Key_Escape), findBar_);
    escape->setContext(Qt::WidgetWithChildrenShortcut);
    connect(escape, &QShortcut::activated, this, &MainWindow::closeFindBar);
    connect(findPrevBtn_, &QPushButton::clicked, transcript_.get(), &TranscriptView::findPrev);
    connect(findNextBtn_, &QPushButton::clicked, transcript_.get(), &TranscriptView::findNext);

    chatMenu_ = std::make_unique<QMenu>(QStringLiteral("ChatMenu"));
    chatMenu_->setObjectName(QStringLiteral("chatContextMenu"));
    // Each action carries the id of the entry it was offered for (set by showEntryMenu), so a
    // transcript that changes while the menu is up cannot redirect it.
    QAction* reply = chatMenu_->addAction(QStringLiteral("답장하기"));
    connect(reply, &QAction::triggered, this,
            [this, reply] { emit replyToEntryRequested(reply->data().toString()); });
    QAction* edit = chatMenu_->addAction(QStringLiteral("수정하기"));
    connect(edit, &QAction::triggered, this,
            [this, edit] { emit editEntryRequested(edit->data().toString()); });
    QAction* remove = chatMenu_->addAction(QStringLiteral("삭제하기"));
    connect(remove, &QAction::triggered, this,
            [this, remove] { emit deleteEntryRequested(remove->data().toString()); });
    // The message the right-click chose (or the text selected in it).
    QAction* copy = chatMenu_->addAction(QStringLiteral("복사"));
    connect(copy, &QAction::triggered, this, [this] { chatView_->copy(); });
    chatView_->setContextMenuPolicy(Qt::CustomContextMenu);
    connect(chatView_, &QWidget::customContextMenuRequested, this, [this](const QPoint& pos) {
        emit entryMenuRequested(transcript_->messageRowAt(pos),
                                chatView_->viewport()->mapToGlobal(pos));
    });

    bottomContainer_ = new QWidget(split);
    bottomContainer_->setObjectName(QStringLiteral("bottomContainer"));
    bottomContainer_->resize(576, kBottomPaneHeight);

    replyBar_ = new QWidget(bottomContainer_);
    replyBar_->setObjectName(QStringLiteral("replyBar"));
    replyBar_->hide();
    replyPreviewLabel_ = makeLabel(QStringLiteral("replyPreviewLabel"), QString(), replyBar_);
    replyPreviewLabel_->setFont(systemFont(11));
    keepReadableText(replyPreviewLabel_, darkGray());
    auto* cancel = makeCloseButton(QStringLiteral("replyCancelButton"), replyBar_);
    connect(cancel, &QToolButton::clicked, this, &MainWindow::replyCancelled);
    replyCancelBtn_ = cancel;
    replyBar_->installEventFilter(this);

    auto* composer = new ComposerEdit;
    connect(composer, &ComposerEdit::imagePasted, this, &MainWindow::imagePasted);
    connect(composer, &ComposerEdit::filesPasted, this, &MainWindow::filesPasted);
    composeView_ = composer;
    composeView_->setObjectName(QStringLiteral("composeView"));
    composeView_->setAccessibleName(QStringLiteral("메시지 입력"));
    composeView_->setFont(systemFont(12));
    composeView_->setLineWrapMode(QPlainTextEdit::WidgetWidth);
    composeView_->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    composeView_->setVerticalScrollBarPolicy(Qt::ScrollBarAsNeeded);
    // Tab moves on to the next control; a message never needs a tab character.
    composeView_->setTabChangesFocus(true);
    composeView_->installEventFilter(this);
    composeScroll_ = wrapInFrame(QStringLiteral("composeScroll"), composeView_, bottomContainer_);
    composeScroll_->setMinimumHeight(24);

    attachBtn_ = new QPushButton(QStringLiteral("파일"), bottomContainer_);
    attachBtn_->setObjectName(QStringLiteral("attachBtn"));
    attachBtn_->setAccessibleName(attachBtn_->text());
    connect(attachBtn_, &QPushButton::clicked, this, &MainWindow::attachRequested);
    sendBtn_ = new QPushButton(QStringLiteral("전송"), bottomContainer_);
    sendBtn_->setObjectName(QStringLiteral("sendBtn"));
    sendBtn_->setAccessibleName(sendBtn_->text());
    connect(sendBtn_, &QPushButton::clicked, this,
            [this] { emit sendRequested(composeView_->toPlainText()); });
    bottomContainer_->installEventFilter(this);

    split->addWidget(chatScroll_);
    split->addWidget(bottomContainer_);
    split->setStretchFactor(0, 1);
    split->setStretchFactor(1, 0);
    // The transcript takes what the compose area's 90 points and the divider leave.
    split->setSizes({446 - kBottomPaneHeight - kSplitHandleWidth, kBottomPaneHeight});
    layoutBottomContainer();
}

void MainWindow::buildStatusLine() {
    statusLabel_ = makeLabel(QStringLiteral("statusLabel"), QStringLiteral("연결 중…"), content_);
    keepReadableText(statusLabel_, darkGray());

    uploadProgressBar_ = new QProgressBar(content_);
    uploadProgressBar_->setObjectName(QStringLiteral("uploadProgressBar"));
    uploadProgressBar_->setRange(0, 100);
    uploadProgressBar_->setTextVisible(false);
    uploadProgressBar_->hide();

    // Shows while a file is dragged over the window; mouse and drags pass through it.
    auto* dropHighlight = new QWidget(content_);
    dropHighlight->setObjectName(QStringLiteral("dropHighlight"));
    dropHighlight->setAttribute(Qt::WA_TransparentForMouseEvents);
    dropHighlight->setAutoFillBackground(true);
    QPalette highlightPalette = dropHighlight->palette();
    highlightPalette.setColor(QPalette::Window, QColor::fromRgbF(0.1f, 0.4f, 0.8f, 0.18f));
    dropHighlight->setPalette(highlightPalette);
    dropHighlight->hide();
    const auto showDropHighlight = [this, dropHighlight](bool on) {
        if (on) {
            dropHighlight->setGeometry(content_->rect());
            dropHighlight->raise();
        }
        dropHighlight->setVisible(on);
    };
    auto* drops = new FileDropFilter([this](const QString& path) { emit fileDropped(path); },
                                     window_.get(), showDropHighlight);
    window_->setAcceptDrops(true);
    window_->installEventFilter(drops);
    // The text views take drops themselves; a file must not become text in the composer.
    for (QAbstractScrollArea* view : {static_cast<QAbstractScrollArea*>(chatView_),
                                      static_cast<QAbstractScrollArea*>(composeView_)}) {
        view->installEventFilter(drops);
        view->viewport()->installEventFilter(drops);
    }
}

} // namespace brindlewick
