#include "file_actions.h"

#include "bidi_isolate.h"
#include "display_text.h"
#include "file_link.h"
#include "main_window.h"
#include "outbox.h"
#include "platform.h"
#include "room_session.h"
#include "saved_file_policy.h"

#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QImage>
#include <QLocale>
#include <QMainWindow>
#include <QUuid>

#include <algorithm>

namespace brindlewick {

const QString FileActions::kUnreadableText = QStringLiteral("파일 열기 실패");

FileActions::FileActions(ChatClient& /*client*/, RoomSession& session, Transfers& transfers,
                         MainWindow& window, Platform& platform, QObject* parent)
    : QObject(parent), session_(session), outbox_(session.outbox()), transfers_(transfers),
      window_(window), platform_(platform) {
    connect(&window_, &MainWindow::attachRequested, this, &FileActions::attachFile);
    connect(&window_, &MainWindow::fileDropped, this, &FileActions::attachDroppedFile);
    connect(&window_, &MainWindow::fileLinkClicked, this, &FileActions::saveFile);
    // Not inside the paste's own key handling: what follows shows a modal question.
    connect(&window_, &MainWindow::imagePasted, this, &FileActions::attachPastedImage,
            Qt::QueuedConnection);
    connect(&window_, &MainWindow::filesPasted, this, &FileActions::attachFiles,
            Qt::QueuedConnection);
    connect(&transfers_, &Transfers::progress, this, [this](Transfers::Id id, int percent) {
        if (id != upload_)
            return;
        window_.setStatus(QStringLiteral("업로드 %1%").arg(percent));
        window_.setUploadProgress(percent);
    });
    connect(&transfers_, &Transfers::uploadFinished, this, &FileActions::uploadFinished);
    connect(&transfers_, &Transfers::downloadFinished, this, &FileActions::downloadFinished);
    if (outbox_) {
        connect(outbox_, &Outbox::uploadsWaiting, this, &FileActions::startNext);
        // A file taken back while it uploads: what it sent is left to the server.
        connect(outbox_, &Outbox::removed, this, [this](const QString& clientId) {
            if (upload_ != 0 && clientId == uploadInfo_.clientId)
                transfers_.cancel(upload_);
        });
    }
}

FileActions::~FileActions() = default;

bool FileActions::mayAttach() {
    if (uploading()) {
        platform_.beep();
        return false;
    }
    if (!session_.isOpen() || !outbox_) {
        platform_.runAlert(window_.window(), QStringLiteral("먼저 채팅방을 열어주세요."), QString(),
                           {});
        return false;
    }
    return true;
}

void FileActions::attachFile() {
    if (!mayAttach())
        return;
    const QString path = platform_.runOpenPanel(window_.window(), QStringLiteral("보낼 파일 선택"));
    // The panel ran the event loop: the room or another upload may have changed meanwhile.
    if (path.isEmpty() || !mayAttach())
        return;
    take(path);
}

void FileActions::attachDroppedFile(const QString& path) {
    if (!path.isEmpty())
        attachFiles({path});
}

namespace {

qint64 sizeOf(const QString& path) {
    const QFileInfo info(path);
    return info.exists() ? std::max<qint64>(0, info.size()) : -1;
}

// "name (size)" for the confirmation.
QString describeFile(const QString& path) {
    return QStringLiteral("%1 (%2)").arg(
        isolated(QFileInfo(path).fileName()),
        QLocale().formattedDataSize(std::max<qint64>(0, sizeOf(path)), 1,
                                    QLocale::DataSizeTraditionalFormat));
}

} // namespace

void FileActions::attachFiles(const QStringList& paths) {
    if (!mayAttach() || paths.isEmpty())
        return;
    // A drop or a paste can be an accident: nothing leaves before the user says so.
    constexpr int kListed = 10;
    QStringList lines;
    for (qsizetype i = 0; i < paths.size() && i < kListed; ++i)
        lines.append(describeFile(paths.at(i)));
    if (paths.size() > kListed)
        lines.append(QStringLiteral("외 %1개").arg(paths.size() - kListed));
    const QString room = session_.room();
    const int answer = platform_.runAlert(window_.window(), QStringLiteral("파일을 보낼까요?"),
                                          lines.join(QLatin1Char('\n')),
                                          {QStringLiteral("보내기"), QStringLiteral("취소")});
    if (answer != Platform::kFirstButton)
        return;
    // The alert ran the event loop: the files were meant for the room open when they came.
    if (!mayAttach() || session_.room() != room)
        return;
    for (const QString& path : paths)
        take(path);
}

void FileActions::attachPastedImage(const QImage& image) {
    if (image.isNull() || !mayAttach())
        return;
    const QString room = session_.room();
    const int answer =
        platform_.runPictureQuestion(window_.window(), QStringLiteral("이미지를 보낼까요?"), image,
                                     {QStringLiteral("보내기"), QStringLiteral("취소")});
    if (answer != Platform::kFirstButton)
        return;
    if (!mayAttach() || session_.room() != room)
        return;
    const QString name =
        QStringLiteral("붙여넣은 이미지 %1.png")
            .arg(QDateTime::currentDateTime().toString(QStringLiteral("yyyyMMdd-HHmmss")));
    // Kept beside the outbox until sent, under a name of its own: two pastes in one second
    // share the shown name.
    const QString folder = outbox_->filesFolder();
    const QString path =
        folder.isEmpty()
            ? QString()
            : QDir(folder).filePath(QUuid::createUuid().toString(QUuid::WithoutBraces) + ".png");
    if (path.isEmpty() || !image.save(path, "PNG")) {
        QFile::remove(path);
        platform_.runAlert(window_.window(), QStringLiteral("이미지를 보내지 못했습니다"),
                           QStringLiteral("임시 파일을 쓸 수 없습니다."), {});
        return;
    }
    // Its upload starts from the outbox's signal when signed in.
    outbox_->sendLocalFile(room, path, name, sizeOf(path), true);
}

void FileActions::take(const QString& path) {
    // Its upload starts from the outbox's signal when signed in.
    outbox_->sendLocalFile(session_.room(), path, QFileInfo(path).fileName(), sizeOf(path));
}

void FileActions::startNext() {
    if (!outbox_ || uploading() || !outbox_->signedIn())
        return;
    while (const OutboxEntry* next = outbox_->nextUpload()) {
        const QString clientId = next->clientId;
        const QString path = next->localPath;
        const QString name = next->fileName;
        // Gone or unreadable since it was chosen: it fails here rather than half-way up.
        QFile file(path);
        if (path.isEmpty() || !file.open(QIODevice::ReadOnly)) {
            outbox_->fail(clientId, kUnreadableText);
            window_.setStatus(QStringLiteral("업로드 실패: %1").arg(kUnreadableText));
            continue;
        }
        uploadInfo_ = Upload{clientId, name, std::max<qint64>(0, file.size())};
        file.close();
        window_.setUploading(true);
        // Where an upload is belongs to the status line; the transcript holds the conversation.
        window_.setStatus(QStringLiteral("업로드 시작: %1").arg(isolated(name)));
        upload_ = transfers_.upload(path);
        return;
    }
}

void FileActions::uploadFinished(Transfers::Id id, const QString& fileId, const QString& error) {
    if (id != upload_)
        return;
    upload_ = 0;
    window_.setUploading(false);
    const Upload done = uploadInfo_;
    uploadInfo_ = Upload{};
    // Removed meanwhile: the user no longer wants it, and nothing says so.
    if (outbox_->entry(done.clientId)) {
        if (fileId.isEmpty()) {
            outbox_->fail(done.clientId, error);
            window_.setStatus(QStringLiteral("업로드 실패: %1").arg(summaryText(error)));
        } else {
            outbox_->setFileId(done.clientId, fileId, done.size);
            window_.setStatus(QStringLiteral("업로드 완료: %1").arg(isolated(done.name)));
        }
    }
    startNext();
}

void FileActions::saveFile(const QString& fileId, const QString& suggestedName) {
    if (fileId.isEmpty())
        return;
    // Another user chose the name: it may only name a file, never a folder to write into.
    const QString suggestion = suggestedName.isEmpty() ? QString() : plainFileName(suggestedName);
    const QString destination =
        platform_.runSavePanel(window_.window(), QStringLiteral("파일 저장"), suggestion);
    if (destination.isEmpty())
        return;
    window_.setStatus(QStringLiteral("다운로드 중…"));
    saves_.insert(transfers_.download(fileId, destination), destination);
}

void FileActions::downloadFinished(Transfers::Id id, bool ok, const QString& error) {
    const QString destination = saves_.take(id);
    if (destination.isEmpty())
        return;
    if (ok) {
        window_.setStatus(QStringLiteral("저장됨: %1").arg(isolated(destination)));
        // Another user chose the content: only what cannot run code opens by itself.
        if (maySafelyOpenSavedFile(destination))
            platform_.openFile(destination);
        return;
    }
    window_.setStatus(QStringLiteral("다운로드 실패: %1").arg(error));
    platform_.runAlert(window_.window(), QStringLiteral("다운로드 실패"), error, {});
}

} // namespace brindlewick
