#include "saved_file_policy.h"

#include <QFileInfo>
#include <QList>
#include <QMimeDatabase>
#include <QMimeType>

namespace brindlewick {

namespace {

// Types whose default application runs them, or runs something they install. Subtypes count
// too (e.g. every shell or Python script inherits application/x-executable).
constexpr const char* kRunnableTypes[] = {
    "application/x-executable",
    "application/x-sharedlib",
    "application/x-shellscript",
    "application/x-desktop",
    "application/vnd.debian.binary-package",
    "application/x-rpm",
    "application/x-msdownload",
    "application/x-ms-dos-executable",
    "application/x-msi",
    "application/x-ms-shortcut",
    "application/x-bat",
    "application/vnd.microsoft.portable-executable",
    "application/java-archive",
    "application/x-java-jnlp-file",
    "application/x-perl",
    "application/x-ruby",
    "application/x-php",
    "application/x-appimage",
    "application/vnd.appimage",
    "application/vnd.flatpak",
    "application/vnd.flatpak.ref",
    "application/x-flatpak",
    "application/x-snap",
    "text/x-python",
    "text/x-python3",
    "text/x-tcl",
    "text/x-lua",
};

bool runsCode(const QMimeType& type) {
    if (!type.isValid())
        return false;
    for (const char* name : kRunnableTypes)
        if (type.inherits(QLatin1String(name)))
            return true;
    QStringList names = type.allAncestors();
    names.append(type.name());
    for (const QString& name : names)
        if (name.startsWith(QLatin1String("text/x-script")))
            return true;
    return false;
}

} // namespace

bool maySafelyOpenSavedFile(const QString& path) {
    const QFileInfo info(path);
    if (!info.isFile() || !info.isReadable())
        return false;
    const QMimeDatabase db;
    QList<QMimeType> candidates = db.mimeTypesForFileName(info.fileName());
    candidates.append(db.mimeTypeForFile(info, QMimeDatabase::MatchContent));
    candidates.append(db.mimeTypeForFile(info, QMimeDatabase::MatchDefault));
    for (const QMimeType& type : candidates)
        if (runsCode(type))
            return false;
    return true;
}

} // namespace brindlewick
