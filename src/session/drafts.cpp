#include "drafts.h"

#include <QSettings>
#include <QVariantMap>

namespace brindlewick {

namespace {

// Phones are digits, but a key must never become a path of groups.
QString draftsKey(const QString& phone) {
    return QStringLiteral("drafts/") + QString::fromLatin1(phone.toUtf8().toHex());
}

} // namespace

void Drafts::setText(const QString& room, const QString& text) {
    if (room.isEmpty())
        return;
    if (text.trimmed().isEmpty()) {
        texts_.remove(room);
        return;
    }
    if (!texts_.contains(room) && texts_.size() >= kMaxRooms)
        return;
    QString kept = text.left(kMaxChars);
    // Never half of a surrogate pair at the cut.
    if (kept.size() < text.size() && !kept.isEmpty() && kept.back().isHighSurrogate())
        kept.chop(1);
    texts_.insert(room, kept);
}

QString Drafts::switchTo(const QString& room, const QString& leaving) {
    if (room.isEmpty())
        texts_.remove(current_); // a room closed is one left: its text goes with it
    else
        setText(current_, leaving);
    current_ = room;
    return text(room);
}

void Drafts::load(QSettings& settings, const QString& phone) {
    texts_.clear();
    const QVariantMap stored = settings.value(draftsKey(phone)).toMap();
    for (auto it = stored.constBegin(); it != stored.constEnd(); ++it)
        if (it.value().typeId() == QMetaType::QString)
            setText(it.key(), it.value().toString());
}

void Drafts::save(QSettings& settings, const QString& phone) const {
    if (texts_.isEmpty()) {
        settings.remove(draftsKey(phone));
        return;
    }
    QVariantMap stored;
    for (auto it = texts_.constBegin(); it != texts_.constEnd(); ++it)
        stored.insert(it.key(), it.value());
    settings.setValue(draftsKey(phone), stored);
}

} // namespace brindlewick
