// Clicked links are outside text: parse anything, and check that what parses is a usable id and
// a plain file name, and that links we build read back to what we put in.

#include "file_link.h"

#include <cstdlib>

using namespace brindlewick;

namespace {

void check(bool ok) {
    if (!ok)
        std::abort();
}

void checkParsed(const std::optional<FileLink>& link) {
    if (!link)
        return;
    check(!link->fileId.isEmpty());
    const QString& name = link->suggestedName;
    check(!name.isEmpty() && name != QLatin1String(".") && name != QLatin1String(".."));
    check(!name.contains(QLatin1Char('/')) && !name.contains(QLatin1Char('\\')));
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const QByteArray bytes(reinterpret_cast<const char*>(data), qsizetype(size));
    const QString text = QString::fromUtf8(bytes);
    checkParsed(parseFileLink(text));
    checkParsed(parseFileLink(QStringLiteral("brindlewick-file://") + text));
    checkParsed(parseFileLink(QUrl(text)));

    // First line the file id, the rest the name.
    const qsizetype cut = text.indexOf(QLatin1Char('\n'));
    const QString id = cut < 0 ? text : text.left(cut);
    const QString name = cut < 0 ? QString() : text.mid(cut + 1);
    if (const std::optional<QString> link = buildFileLink(id, name)) {
        const std::optional<FileLink> back = parseFileLink(*link);
        check(back.has_value());
        checkParsed(back);
        check(back->fileId == id);
        if (!name.contains(QLatin1Char('/')) && !name.contains(QLatin1Char('\\')))
            check(back->suggestedName ==
                  plainFileName(name.isEmpty() ? QStringLiteral("file") : name));
    }
    return 0;
}
