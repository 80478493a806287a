#pragma once
// Chat entries shaped like a busy Korean room: several senders with their own pictures, replies,
// message lengths from a word to a few lines.

#include "transcript_view.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QImage>
#include <QString>
#include <QStringList>
#include <QVector>
#include <cstdio>

namespace bench {

struct Entry {
    QString msgId, sender, text, time, replyTo;
    bool mine;
    int picture; // index into pictures(), -1 for the placeholder
};

inline QVector<QImage> pictures() {
    QVector<QImage> out;
    for (int i = 0; i < 8; ++i) {
        QImage img(96, 96, QImage::Format_ARGB32);
        img.fill(QColor::fromHsv(i * 45, 200, 220));
        out << img;
    }
    return out;
}

// Every `markEvery`-th entry carries `mark` (in varying capitalisation) in its text.
inline QVector<Entry> corpus(int count, int markEvery = 0, const QString& mark = {}) {
    static const QStringList senders = {"민수", "지영", "01012345678", "하나", "나",
                                        "서준", "도윤", "예린",        "Jun"};
    static const QStringList texts = {
        "안녕하세요",
        "오늘 회의는 세 시에 시작합니다. 자료는 공유 폴더에 올려 두었어요.",
        "네 알겠습니다!",
        "점심 뭐 먹을까요? 김치찌개 어때요",
        "ㅋㅋㅋㅋ 좋아요",
        "어제 보낸 파일 확인 부탁드립니다. 수정한 부분은 빨간색으로 표시했어요. 내일까지 "
        "의견 주시면 반영하겠습니다.",
        "잠시만요",
        "퇴근합니다~ 다들 수고하셨어요"};
    QVector<Entry> out;
    out.reserve(count);
    for (int i = 0; i < count; ++i) {
        Entry e;
        e.msgId = QString::number(1000000 + i);
        const int s = (i * 7) % senders.size();
        e.sender = senders[s];
        e.mine = e.sender == "나";
        e.text = texts[(i * 5) % texts.size()];
        if (markEvery > 0 && i % markEvery == markEvery / 2)
            e.text += " " + (i % 3 == 0 ? mark.toUpper() : i % 3 == 1 ? mark.toLower() : mark);
        e.time = QString("2024-05-06T%1:%2:%3Z")
                     .arg((i / 3600) % 24, 2, 10, QChar('0'))
                     .arg((i / 60) % 60, 2, 10, QChar('0'))
                     .arg(i % 60, 2, 10, QChar('0'));
        e.replyTo = i % 10 == 3 ? QString::number(1000000 + i - 2) : QString();
        e.picture = s == 4 ? -1 : s % 8;
        out << e;
    }
    return out;
}

inline void append(brindlewick::TranscriptView& view, const Entry& e, const QVector<QImage>& pics) {
    brindlewick::EntryPicture pic;
    if (e.picture >= 0)
        pic = {"pic-" + QString::number(e.picture), pics[e.picture]};
    view.appendChatMsgId(e.msgId, e.sender, e.text, e.time, e.mine, e.replyTo, pic);
}

inline long statusKiB(const char* key) {
    QFile f("/proc/self/status");
    if (!f.open(QIODevice::ReadOnly))
        return -1;
    for (const QByteArray& line : f.readAll().split('\n'))
        if (line.startsWith(key))
            return line.mid(qstrlen(key)).trimmed().split(' ').first().toLong();
    return -1;
}

inline void ensureOffscreen() {
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
}

} // namespace bench
