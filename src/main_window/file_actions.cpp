#include "file_actions.h"

#include "chat_client.h"
#include "conversation.h"
#include "file_link.h"
#include "file_transfer.h"
#include "main_window.h"
#include "platform.h"
#include "room_session.h"
#include "saved_file_policy.h"

#include <QFileInfo>
#include <QLocale>
#include <QMainWindow>

#include <algorithm>

namespace brindlewick {

FileActions::FileActions(ChatClient& client, RoomSession& session, Transfers& transfers,
                         Conversation& conversation, MainWindow& window, Platform& platform,
                         QObject* parent)
    : QObject(parent), client_(client), session_(session), transfers_(transfers),
      conversation_(conversation), window_(window), platform_(platform) {
    connect(&window_, &MainWindow::attachRequested, this, &FileActions::attachFile);
    connect(&window_, &MainWindow::fileDropped, this, &FileActions::attachDroppedFile);
    connect(&window_, &MainWindow::fileLinkClicked, this, &FileActions::saveFile);
    connect(&transfers_, &Transfers::progress, this, [this](Transfers::Id id, int percent) {
        if (id != upload_)
            return;
        window_.setStatus(QStringLiteral("업로드 %1%").arg(percent));
        window_.setUploadProgress(percent);
    });
    connect(&transfers_, &Transfers::uploadFinished, this, &FileActions::uploadFinished);
    connect(&transfers_, &Transfers::downloadFinished, this, &FileActions::downloadFinished);
}

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
    if (!mayStartUpload() || path.isEmpty())
        return;
    // A drop can be an accident: nothing leaves before the user says so.
    const QFileInfo info(path);
    const QString room = session_.room();
    const QString details = QStringLiteral("%1 (%2)").arg(
        FileTransfer::lastPathComponent(path),
        QLocale().formattedDataSize(std::max<qint64>(0, info.size()), 1,
                                    QLocale::DataSizeTraditionalFormat));
    const int answer =
        platform_.runAlert(window_.window(), QStringLiteral("파일을 보낼까요?"), details,
                           {QStringLiteral("보내기"), QStringLiteral("취소")});
    if (answer != Platform::kFirstButton)
        return;
    // The alert ran the event loop: the file was meant for the room open when it was dropped.
    if (!mayStartUpload() || session_.room() != room)
        return;
    startUpload(path);
}

void FileActions::startUpload(const QString& path) {
    const QFileInfo info(path);
    uploadInfo_ = Upload{session_.room(), FileTransfer::lastPathComponent(path),
                         info.exists() ? quint64(std::max<qint64>(0, info.size())) : 0};
    window_.setUploading(true);
    window_.setStatus(QStringLiteral("파일 업로드 중…"));
    conversation_.appendSystemLine(
        QStringLiteral("[시스템] 업로드 시작: %1").arg(uploadInfo_.name));
    upload_ = transfers_.upload(path);
}

void FileActions::uploadFinished(Transfers::Id id, const QString& fileId, const QString& error) {
    if (id != upload_)
        return;
    upload_ = 0;
    window_.setUploading(false);
    if (fileId.isEmpty()) {
        conversation_.appendSystemLine(QStringLiteral("[시스템] 업로드 실패: %1").arg(error));
        window_.setStatus(QStringLiteral("업로드 실패"));
        return;
    }
    client_.sendFileMetaToRoom(uploadInfo_.room, fileId, uploadInfo_.name,
                               QString::number(uploadInfo_.size));
    window_.setStatus(QStringLiteral("업로드 완료 — 전송됨"));
    conversation_.appendSystemLine(
        QStringLiteral("[시스템] 업로드 완료: %1").arg(uploadInfo_.name));
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
        window_.setStatus(QStringLiteral("저장됨: %1").arg(destination));
        // Another user chose the content: only what cannot run code opens by itself.
        if (maySafelyOpenSavedFile(destination))
            platform_.openFile(destination);
        return;
    }
    window_.setStatus(QStringLiteral("다운로드 실패: %1").arg(error));
    platform_.runAlert(window_.window(), QStringLiteral("다운로드 실패"), error, {});
}

} // namespace brindlewick
