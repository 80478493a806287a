#include "headless_setup.h"

#include <QApplication>
#include <QFont>
#include <QFontDatabase>
#include <QTcpServer>

namespace brindlewick {

void useKoreanFont() {
    for (const QString& family :
         {QStringLiteral("Noto Sans CJK KR"), QStringLiteral("Noto Sans KR")}) {
        if (QFontDatabase::families().contains(family)) {
            QFont font(family);
            font.setPixelSize(13);
            QApplication::setFont(font);
            return;
        }
    }
}

quint16 unusedLocalPort() {
    QTcpServer probe;
    probe.listen(QHostAddress::LocalHost, 0);
    return probe.serverPort();
}

} // namespace brindlewick
