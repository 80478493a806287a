#include "display_text.h"

#include <utility>

namespace brindlewick {

QString displayText(const QString& text) {
    static const std::pair<QLatin1String, QString> tags[] = {
        {QLatin1String("[sticker:"), QStringLiteral("[이모티콘]")},
        {QLatin1String("[file:"), QStringLiteral("[파일]")},
        {QLatin1String("[loc:"), QStringLiteral("[위치]")},
        {QLatin1String("[call:"), QStringLiteral("[통화]")},
    };
    for (const auto& [prefix, label] : tags)
        if (text.startsWith(prefix))
            return label;
    return text;
}

} // namespace brindlewick
