#pragma once
// Chunked uploads and streamed downloads of files over the HTTP API. Stateless; safe to call
// from several threads at once.

#include "server_config.h"

#include <QString>
#include <QtGlobal>

#include <atomic>
#include <functional>

namespace brindlewick::transfer {

inline constexpr qint64 kChunkSize = 1048576;

using Progress = std::function<void(int percent)>;

// Uploads in 1 MiB chunks; `progress` runs on the calling thread after each chunk and
// once more with 100 at the end. Returns the new file id, or an empty text on failure.
// A set `cancelled` stops it between and inside chunks with the error "취소됨".
QString upload(const ServerConfig& config, const QString& path, const Progress& progress,
               QString* error, const std::atomic<bool>* cancelled = nullptr);
// Streams the file into a temporary file beside `toPath` and renames it over `toPath`
// when complete; on failure `toPath` is untouched.
bool download(const ServerConfig& config, const QString& fileId, const QString& toPath,
              QString* error, const std::atomic<bool>* cancelled = nullptr);

// The name an upload of `path` announces: its last component, trailing slashes ignored.
QString lastPathComponent(const QString& path);

// "/v1/files/<id>" with the id percent-encoded, so no id can address another resource.
QString fileUrlPath(const QString& fileId);

} // namespace brindlewick::transfer
