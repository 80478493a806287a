#include "file_transfer.h"
#include "http_transport.h"
#include "json_scan.h"
#include "url_value.h"

#include <QFile>
#include <QFileInfo>
#include <QTemporaryFile>

#include <algorithm>
#include <cstdio>

namespace brindlewick::transfer {
namespace {

// A temporary file is private to its owner; the saved file is an ordinary one.
constexpr QFileDevice::Permissions kSavedPermissions =
    QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ReadGroup |
    QFileDevice::ReadOther;

void fail(QString* error, const QString& requestError, const char* fallback) {
    if (error)
        *error = requestError.isEmpty() ? QString::fromUtf8(fallback) : requestError;
}

} // namespace

QString lastPathComponent(const QString& path) {
    QString p = path;
    while (p.size() > 1 && p.endsWith(u'/'))
        p.chop(1);
    return p.mid(p.lastIndexOf(u'/') + 1);
}

QString upload(const ServerConfig& config, const QString& path, const Progress& progress,
               QString* error, const std::atomic<bool>* cancelled) {
    const api::Limits limits{0, cancelled};
    if (error)
        error->clear();
    if (path.isEmpty()) {
        fail(error, QString(), "경로 없음");
        return QString();
    }
    const QFileInfo info(path);
    const quint64 size = info.exists() ? quint64(std::max<qint64>(0, info.size())) : 0;

    const QString createBody =
        QStringLiteral("{\"name\":\"") + json::escape(lastPathComponent(path)) +
        QStringLiteral("\",\"size\":") + QString::number(size) +
        QStringLiteral(",\"content_type\":\"application/octet-stream\",\"sha256\":\"\"}");
    const QString jsonType = QStringLiteral("application/json");
    QString requestError;
    const std::optional<QByteArray> created =
        api::request(config, QStringLiteral("POST"), QStringLiteral("/v1/files"),
                     createBody.toUtf8(), jsonType, &requestError, limits);
    if (!created) {
        fail(error, requestError, "create 실패");
        return QString();
    }
    const QString fileId =
        json::stringValue(u"id", api::decodeUtf8(*created).value_or(QString())).value_or(QString());
    if (fileId.isEmpty()) {
        fail(error, QString(), "file id 없음");
        return QString();
    }
    const QString fileUrl = fileUrlPath(fileId);

    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) {
        fail(error, QString(), "파일 열기 실패");
        return QString();
    }
    quint64 sent = 0;
    qint32 chunkNumber = 0;
    QByteArray chunk;
    while (sent < size) {
        // Never past the announced size, should the file have grown meanwhile.
        const qint64 want = qint64(std::min<quint64>(kChunkSize, size - sent));
        chunk.resize(want);
        const qint64 got = file.read(chunk.data(), want);
        if (got <= 0)
            break; // the file became shorter: complete with what was sent
        chunk.resize(got);
        requestError.clear();
        const QString chunkPath = fileUrl + QStringLiteral("/chunks/%1").arg(chunkNumber);
        if (!api::request(config, QStringLiteral("PUT"), chunkPath, chunk,
                          QStringLiteral("application/octet-stream"), &requestError, limits)) {
            fail(error, requestError, "청크 실패");
            return QString();
        }
        sent += quint64(got);
        ++chunkNumber;
        if (size != 0 && progress)
            progress(int(sent * 100 / size));
    }
    file.close();

    requestError.clear();
    if (!api::request(config, QStringLiteral("POST"), fileUrl + QStringLiteral("/complete"),
                      QByteArray("{}"), jsonType, &requestError, limits)) {
        fail(error, requestError, "complete 실패");
        return QString();
    }
    if (progress)
        progress(100);
    return fileId;
}

bool download(const ServerConfig& config, const QString& fileId, const QString& toPath,
              QString* error, const std::atomic<bool>* cancelled) {
    if (error)
        error->clear();
    if (fileId.isEmpty() || toPath.isEmpty()) {
        fail(error, QString(), "인자 없음");
        return false;
    }
    // Written beside the destination and renamed over it only when complete, so a failure
    // leaves toPath as it was; the temporary file removes itself unless renamed.
    QTemporaryFile out(toPath + QStringLiteral(".XXXXXX.part"));
    if (!out.open()) {
        fail(error, QString(), "저장 실패");
        return false;
    }
    const api::detail::BodySink sink = [&out](const char* data, std::size_t size) {
        return out.write(data, qint64(size)) == qint64(size);
    };
    const api::detail::Result r =
        api::detail::perform(config, QStringLiteral("GET"), fileUrlPath(fileId), std::nullopt,
                             QString(), sink, api::Limits{0, cancelled});
    switch (r.outcome) {
    case api::detail::Outcome::Success:
        break;
    case api::detail::Outcome::HttpStatus:
        fail(error, api::detail::statusText(r.status, r.errorBody), "다운로드 실패");
        return false;
    case api::detail::Outcome::Transport:
        fail(error, r.transportError, "다운로드 실패");
        return false;
    case api::detail::Outcome::SinkFailed:
        fail(error, QString(), "저장 실패");
        return false;
    }
    // Like a platform atomic write: rename without fsync, which would double the time of a
    // large download.
    if (!out.flush() || !out.setPermissions(kSavedPermissions)) {
        fail(error, QString(), "저장 실패");
        return false;
    }
    out.close();
    if (out.error() != QFileDevice::NoError ||
        std::rename(QFile::encodeName(out.fileName()).constData(),
                    QFile::encodeName(toPath).constData()) != 0) {
        fail(error, QString(), "저장 실패");
        return false;
    }
    out.setAutoRemove(false);
    return true;
}

QString fileUrlPath(const QString& fileId) {
    return QStringLiteral("/v1/files/") + urlValue(fileId);
}

} // namespace brindlewick::transfer
