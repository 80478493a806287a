#pragma once
// Unsent composer text per room, kept while the user switches rooms or edits a message, and
// across restarts in the user's settings ("drafts/<phone>", one entry per room).

#include <QHash>
#include <QString>

class QSettings;

namespace brindlewick {

class Drafts {
public:
    // The most rooms kept, and the most characters of one draft; beyond, the rest is not kept.
    static constexpr int kMaxRooms = 500;
    static constexpr qsizetype kMaxChars = 64 * 1024;

    // The text kept for `room`; "" for none.
    QString text(const QString& room) const { return texts_.value(room); }
    // Keeps `text` for `room`; text that is only white space forgets it.
    void setText(const QString& room, const QString& text);
    // The composer leaves the current room (its text is `leaving`) for `room`, maybe the same:
    // the text kept for `room` is returned. An empty `room` closes the current one, forgetting
    // its text.
    QString switchTo(const QString& room, const QString& leaving);
    const QString& current() const { return current_; }

    // Replaces what is kept with the drafts stored for `phone`; anything unreadable is skipped.
    void load(QSettings& settings, const QString& phone);
    void save(QSettings& settings, const QString& phone) const;

private:
    QHash<QString, QString> texts_;
    QString current_;
};

} // namespace brindlewick
