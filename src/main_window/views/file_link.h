#pragma once
// Links of file entries in the transcript: "brindlewick-file://<file id>/<escaped name>".

#include <QString>
#include <QUrl>
#include <optional>

namespace brindlewick {

inline constexpr char kFileLinkScheme[] = "brindlewick-file";

// The link text, or nothing when the file id cannot stand as the link's host (the entry then
// shows its line without a link). An empty name is written as "file".
std::optional<QString> buildFileLink(const QString& fileId, const QString& fileName);

struct FileLink {
    QString fileId;
    QString suggestedName; // a plain file name, never empty
};

// Takes a clicked link apart. Only the exact scheme "brindlewick-file" with a non-empty host is
// accepted; the host is the file id as written (case kept). The last path component is
// percent-decoded once and reduced to a plain file name: no folder separators, not "." or "..",
// no control characters, "file" when nothing usable is left.
std::optional<FileLink> parseFileLink(const QString& href);
// For a QUrl (as QTextBrowser reports it). Note QUrl lower-cases the host, so prefer the href.
std::optional<FileLink> parseFileLink(const QUrl& url);

// The plain file name that a suggested name is reduced to.
QString plainFileName(const QString& name);

// A file name whose extension (any case) is a picture type this build can decode: png, jpg,
// jpeg, gif, webp, bmp, as far as Qt's image readers are installed.
bool isPictureFileName(const QString& name);

} // namespace brindlewick
