// Sending a file into the open room and saving a file from a transcript link.

#include "file_drop.h"
#include "file_link.h"
#include "file_transfer.h"
#include "main_controller.h"
#include "platform.h"

#include <QCoreApplication>
#include <QEvent>
#include <QFileInfo>
#include <QMainWindow>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QTextBrowser>
#include <QThreadPool>

namespace brindlewick {

namespace {

// User-started transfers go ahead of queued picture downloads.
constexpr int kTransferPriority = 1;
constexpr int kProgressWidth = 150;
constexpr int kProgressHeight = 10;

// Runs `step` on the main thread unless the controller has gone meanwhile. Posted to the
// application object, which outlives every controller, so the worker never touches one.
template <typename Step> void onMainThread(QPointer<MainController> controller, Step step) {
    QMetaObject::invokeMethod(
        QCoreApplication::instance(),
        [controller = std::move(controller), step = std::move(step)]() mutable {
            if (controller)
                step(*controller);
        },
        Qt::QueuedConnection);
}

QString lastPathComponent(const QString& path) {
    QString p = path;
    while (p.size() > 1 && p.endsWith(u'/'))
        p.chop(1);
    return p.mid(p.lastIndexOf(u'/') + 1);
}

// Keeps the progress bar at the right end of the status line.
class ProgressPlacer : public QObject {
public:
    ProgressPlacer(QProgressBar* bar, QWidget* content) : QObject(bar), bar_(bar) {
        content->installEventFilter(this);
        place(content->size());
    }

    bool eventFilter(QObject* watched, QEvent* event) override {
        if (event->type() == QEvent::Resize)
            place(static_cast<QWidget*>(watched)->size());
        return false;
    }

private:
    void place(const QSize& size) {
        bar_->setGeometry(size.width() - 28 - kProgressWidth, size.height() - 29, kProgressWidth,
                          kProgressHeight);
    }

    QProgressBar* bar_;
};

} // namespace

void MainController::attachFiles() {
    if (transcript)
        connect(transcript.get(), &TranscriptView::fileLinkClicked, this,
                &MainController::saveFileId);

    QWidget* content = window_->centralWidget();
    uploadProgressBar = new QProgressBar(content);
    uploadProgressBar->setObjectName(QStringLiteral("uploadProgressBar"));
    uploadProgressBar->setRange(0, 100);
    uploadProgressBar->setTextVisible(false);
    uploadProgressBar->hide();
    new ProgressPlacer(uploadProgressBar, content);

    auto* drops =
        new FileDropFilter([this](const QString& path) { attachDroppedFile(path); }, window_.get());
    window_->setAcceptDrops(true);
    window_->installEventFilter(drops);
    // The text views take drops themselves; a file must not become text in the composer.
    for (QAbstractScrollArea* view : {static_cast<QAbstractScrollArea*>(chatView),
                                      static_cast<QAbstractScrollArea*>(composeView)})
        if (view) {
            view->installEventFilter(drops);
            view->viewport()->installEventFilter(drops);
        }
}

bool MainController::mayStartUpload() {
    if (uploading) {
        platform_.beep();
        return false;
    }
    if (currentRoom.isEmpty()) {
        platform_.runAlert(window_.get(), QStringLiteral("먼저 채팅방을 열어주세요."), QString(),
                           {});
        return false;
    }
    return true;
}

void MainController::attachFile() {
    if (!mayStartUpload())
        return;
    const QString path = platform_.runOpenPanel(window_.get(), QStringLiteral("보낼 파일 선택"));
    if (path.isEmpty())
        return;
    startUpload(path);
}

void MainController::attachDroppedFile(const QString& path) {
    if (!mayStartUpload())
        return;
    if (!path.isEmpty())
        startUpload(path);
}

void MainController::startUpload(const QString& path) {
    const QString name = lastPathComponent(path);
    uploading = true;
    if (attachBtn)
        attachBtn->setEnabled(false);
    if (uploadProgressBar) {
        uploadProgressBar->setValue(0);
        uploadProgressBar->show();
    }
    setStatus(QStringLiteral("파일 업로드 중…"));
    appendChat(QStringLiteral("[시스템] 업로드 시작: %1").arg(name));

    const QString room = currentRoom;
    const QFileInfo info(path);
    const quint64 size = info.exists() ? quint64(std::max<qint64>(0, info.size())) : 0;
    const ServerConfig config = config_;
    QPointer<MainController> self(this);
    QThreadPool::globalInstance()->start(
        [self, config, path, room, name, size] {
            int lastPercent = -1;
            const FileTransfer::Progress progress = [&lastPercent, self](int percent) {
                if (percent == lastPercent)
                    return;
                lastPercent = percent;
                onMainThread(self, [percent](MainController& c) {
                    c.setStatus(QStringLiteral("업로드 %1%").arg(percent));
                    if (c.uploadProgressBar)
                        c.uploadProgressBar->setValue(percent);
                });
            };
            QString error;
            const QString fileId = FileTransfer::uploadPath(config, path, progress, &error);
            onMainThread(self, [fileId, error, room, name, size](MainController& c) {
                c.uploading = false;
                if (c.attachBtn)
                    c.attachBtn->setEnabled(true);
                if (c.uploadProgressBar)
                    c.uploadProgressBar->hide();
                if (fileId.isEmpty()) {
                    c.appendChat(QStringLiteral("[시스템] 업로드 실패: %1").arg(error));
                    c.setStatus(QStringLiteral("업로드 실패"));
                    return;
                }
                // To the room the file was meant for, whatever is open now.
                c.client->sendFileMetaToRoom(room, fileId, name, QString::number(size));
                c.setStatus(QStringLiteral("업로드 완료 — 전송됨"));
                c.appendChat(QStringLiteral("[시스템] 업로드 완료: %1").arg(name));
            });
        },
        kTransferPriority);
}

void MainController::saveFileId(const QString& fileId, const QString& suggestedName) {
    if (fileId.isEmpty())
        return;
    // Another user chose the name: it may only name a file, never a folder to write into.
    const QString suggestion = suggestedName.isEmpty() ? QString() : plainFileName(suggestedName);
    const QString destination =
        platform_.runSavePanel(window_.get(), QStringLiteral("파일 저장"), suggestion);
    if (destination.isEmpty())
        return;
    setStatus(QStringLiteral("다운로드 중…"));

    const ServerConfig config = config_;
    QPointer<MainController> self(this);
    QThreadPool::globalInstance()->start(
        [self, config, fileId, destination] {
            QString error;
            const bool ok = FileTransfer::downloadFileId(config, fileId, destination, &error);
            onMainThread(self, [ok, error, destination](MainController& c) {
                if (ok) {
                    c.setStatus(QStringLiteral("저장됨: %1").arg(destination));
                    c.platform().openFile(destination);
                    return;
                }
                c.setStatus(QStringLiteral("다운로드 실패: %1").arg(error));
                c.platform().runAlert(c.window(), QStringLiteral("다운로드 실패"), error, {});
            });
        },
        kTransferPriority);
}

bool MainController::textViewClickedOnLink(const QString& link, int charIndex) {
    Q_UNUSED(charIndex);
    // Other schemes and malformed links do nothing; the view never follows a link itself.
    if (const std::optional<FileLink> file = parseFileLink(link))
        saveFileId(file->fileId, file->suggestedName);
    return true;
}

bool MainController::textViewClickedOnLink(const QUrl& link, int charIndex) {
    return textViewClickedOnLink(link.toString(QUrl::FullyEncoded), charIndex);
}

} // namespace brindlewick
