#include "file_actions.h"

#include "bidi_isolate.h"
#include "chat_client.h"
#include "display_text.h"
#include "file_link.h"
#include "file_transfer.h"
#include "main_window.h"
#include "platform.h"
#include "room_session.h"
#include "saved_file_policy.h"

#include <QDateTime>
#include <QFile>
#include <QFileInfo>
#include <QImage>
#include <QLocale>
#include <QMainWindow>
#include <QTemporaryDir>

#include <algorithm>

namespace brindlewick {

FileActions::FileActions(ChatClient& client, RoomSession& session, Transfers& transfers,
                         MainWindow& window, Platform& platform, QObject* parent)
    : QObject(parent), client_(client), session_(session), transfers_(transfers), window_(window),
      platform_(platform) {
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
}

FileActions::~FileActions() = default;

bool FileActions::mayStartUpload() {
    if (uploading()) {
        platform_.beep();
        return false;
    }
    if (!session_.isOpen()) {
        platform_.runAlert(window_.window(), QStringLiteral("먼저 채팅방을 열어주세요."), QString(),
                           {});
        return false;
    }
    return true;
}

void FileActions::attachFile() {
    if (!mayStartUpload())
        return;
    const QString path = platform_.runOpenPanel(window_.window(), QStringLiteral("보낼 파일 선택"));
    // The panel ran the event loop: the room or another upload may have changed meanwhile.
    if (path.isEmpty() || !mayStartUpload())
        return;
    startUpload(path);
}

void FileActions::attachDroppedFile(const QString& path) {
    if (!path.isEmpty())
        attachFiles({path});
}

namespace {

// "name (size)" for the confirmation.
QString describeFile(const QString& path) {
    return QStringLiteral("%1 (%2)").arg(
        isolated(transfer::lastPathComponent(path)),
        QLocale().formattedDataSize(std::max<qint64>(0, QFileInfo(path).size()), 1,
                                    QLocale::DataSizeTraditionalFormat));
}

} // namespace

void FileActions::attachFiles(const QStringList& paths) {
    if (!mayStartUpload() || paths.isEmpty())
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
    if (!mayStartUpload() || session_.room() != room)
        return;
    startUpload(paths.first());
    queued_ = paths.mid(1);
}

void FileActions::attachPastedImage(const QImage& image) {
    if (image.isNull() || !mayStartUpload())
        return;
    const QString room = session_.room();
    const int answer =
        platform_.runPictureQuestion(window_.window(), QStringLiteral("이미지를 보낼까요?"), image,
                                     {QStringLiteral("보내기"), QStringLiteral("취소")});
    if (answer != Platform::kFirstButton)
        return;
    if (!mayStartUpload() || session_.room() != room)
        return;
    if (!pasteDir_)
        pasteDir_ = std::make_unique<QTemporaryDir>();
    const QString name =
        QStringLiteral("붙여넣은 이미지 %1.png")
            .arg(QDateTime::currentDateTime().toString(QStringLiteral("yyyyMMdd-HHmmss")));
    const QString path = pasteDir_->isValid() ? pasteDir_->filePath(name) : QString();
    if (path.isEmpty() || !image.save(path, "PNG")) {
        platform_.runAlert(window_.window(), QStringLiteral("이미지를 보내지 못했습니다"),
                           QStringLiteral("임시 파일을 쓸 수 없습니다."), {});
        return;
    }
    startUpload(path);
}

void FileActions::startUpload(const QString& path) {
    const QFileInfo info(path);
    uploadInfo_ = Upload{session_.room(), transfer::lastPathComponent(path),
                         info.exists() ? quint64(std::max<qint64>(0, info.size())) : 0};
    window_.setUploading(true);
    // Where an upload is belongs to the status line; the transcript holds the conversation.
    window_.setStatus(QStringLiteral("업로드 시작: %1").arg(isolated(uploadInfo_.name)));
    uploadPath_ = path;
    upload_ = transfers_.upload(path);
}

void FileActions::uploadFinished(Transfers::Id id, const QString& fileId, const QString& error) {
    if (id != upload_)
        return;
    upload_ = 0;
    window_.setUploading(false);
    // A pasted picture's file was only the way to the server.
    if (pasteDir_ && uploadPath_.startsWith(pasteDir_->path() + QLatin1Char('/')))
        QFile::remove(uploadPath_);
    uploadPath_.clear();
    QStringList queued;
    queued.swap(queued_);
    if (fileId.isEmpty()) {
        window_.setStatus(QStringLiteral("업로드 실패: %1").arg(summaryText(error)));
        return;
    }
    client_.sendFileMetaToRoom(uploadInfo_.room, fileId, uploadInfo_.name,
                               QString::number(uploadInfo_.size));
    window_.setStatus(QStringLiteral("업로드 완료: %1").arg(isolated(uploadInfo_.name)));
    // The rest of a paste, while its room is still the open one.
    if (!queued.isEmpty() && session_.room() == uploadInfo_.room) {
        startUpload(queued.takeFirst());
        queued_ = queued;
    }
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
