#pragma once
// The HTTP API's building blocks: the JSON text helpers, the one request operation and the
// chunked file transfer. All stateless; safe to call from several threads at once.

#include "server_config.h"

#include <QByteArray>
#include <QString>
#include <QStringView>

#include <atomic>
#include <functional>
#include <optional>

namespace brindlewick {

// How long a request may take, how large its answer may grow and how to stop it early.
// Transfers keep only the idle limit (a large file may take long); other requests also get a
// cap on the whole exchange. No answer is read past its cap, whatever the server sends.
struct RequestLimits {
    static constexpr long kTotalSeconds = 120;
    // An answer kept in memory (lists, JSON) unless maxBodyBytes says otherwise.
    static constexpr qint64 kAnswerBytes = 8 * 1024 * 1024;
    // The text of an error answer beside its status.
    static constexpr qint64 kErrorTextBytes = 4 * 1024;
    long totalSeconds = 0;                        // 0: no cap on the whole exchange
    const std::atomic<bool>* cancelled = nullptr; // set from any thread to abort
    // 0: kAnswerBytes for an answer kept in memory (httpRequest), any size for a download
    // streamed to a file. Otherwise a body the server announces as larger is refused before
    // it comes, and one that grows larger is cut off.
    qint64 maxBodyBytes = 0;
};

class FileTransfer {
public:
    static constexpr qint64 kChunkSize = 1048576;

    // --- JSON text helpers (a scanner, not a parser; see json_text.cpp) ---

    // Text safe to place between double quotes in a JSON body. Never null.
    static QString jsonEscape(const QString& text);
    // String value that follows the first occurrence of "key" in blob, escapes decoded.
    // nullopt when the key is missing or the value is not a string.
    static std::optional<QString> jsonStringValue(QStringView key, QStringView blob);
    // Non-negative integer value that follows "key"; 0 when missing or not bare digits.
    static qint64 jsonIntValue(QStringView key, QStringView blob);

    // --- HTTP ---

    // Synchronous request to http://host:httpPort + path. `path` must already be encoded
    // (see urlValue). No body: std::nullopt. No content type: an empty text.
    // Success (2xx): the body, possibly empty. Failure: nullopt and, when `error` is
    // given, the transport's description or "HTTP <code> <body>". `error` is written
    // only on failure. A body beyond its cap (see RequestLimits), or an error answer's text
    // beyond kErrorTextBytes, fails with kTooLargeText.
    static inline const QString kTooLargeText = QStringLiteral("서버 응답이 너무 큽니다");
    static std::optional<QByteArray> httpRequest(const ServerConfig& config, const QString& method,
                                                 const QString& path,
                                                 const std::optional<QByteArray>& body,
                                                 const QString& contentType, QString* error,
                                                 const RequestLimits& limits = {});

    // --- Files ---

    using Progress = std::function<void(int percent)>;

    // Uploads in 1 MiB chunks; `progress` runs on the calling thread after each chunk and
    // once more with 100 at the end. Returns the new file id, or an empty text on failure.
    // A set `cancelled` stops it between and inside chunks with the error "취소됨".
    static QString uploadPath(const ServerConfig& config, const QString& path,
                              const Progress& progress, QString* error,
                              const std::atomic<bool>* cancelled = nullptr);
    // Streams the file into a temporary file beside `toPath` and renames it over `toPath`
    // when complete; on failure `toPath` is untouched.
    static bool downloadFileId(const ServerConfig& config, const QString& fileId,
                               const QString& toPath, QString* error,
                               const std::atomic<bool>* cancelled = nullptr);

    // The name an upload of `path` announces: its last component, trailing slashes ignored.
    static QString lastPathComponent(const QString& path);

    // "/v1/files/<id>" with the id percent-encoded, so no id can address another resource.
    static QString filePath(const QString& fileId);
};

// GET `path`; the body as text, or nullopt when the request failed or the body is not UTF-8.
std::optional<QString> httpGetPath(const ServerConfig& config, const QString& path,
                                   const RequestLimits& limits = {});

// Strict UTF-8 decoding: nullopt for bytes that are not valid UTF-8.
std::optional<QString> decodeUtf8(const QByteArray& bytes);

} // namespace brindlewick
