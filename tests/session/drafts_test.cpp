// Unsent text per room: what is kept, and what survives a restart through the settings file.

#include "drafts.h"

#include <QSettings>
#include <QTemporaryDir>
#include <gtest/gtest.h>

using namespace brindlewick;

TEST(Drafts, SwitchingRoomsKeepsEachRoomsText) {
    Drafts drafts;
    EXPECT_EQ(drafts.switchTo("r-1", "nothing open yet"), "");
    EXPECT_EQ(drafts.switchTo("r-2", "첫 방"), "");
    EXPECT_EQ(drafts.switchTo("r-1", "둘째 방"), "첫 방");
    EXPECT_EQ(drafts.switchTo("r-1", "첫 방, 더 씀"), "첫 방, 더 씀"); // the same room again
    EXPECT_EQ(drafts.switchTo("r-2", "   \n"), "둘째 방");             // blank: forgotten
    EXPECT_EQ(drafts.text("r-1"), "");
    EXPECT_EQ(drafts.current(), "r-2");
    // Closing the room (it was left) forgets its text.
    EXPECT_EQ(drafts.switchTo("", "버려짐"), "");
    EXPECT_EQ(drafts.text("r-2"), "");
    drafts.setText("", "no room");
    EXPECT_EQ(drafts.text(""), "");
}

TEST(Drafts, LimitsKeepWholeCharacters) {
    Drafts drafts;
    const QString emoji = QStringLiteral("😀");
    const QString longText = QString(Drafts::kMaxChars - 1, QChar(u'a')) + emoji;
    drafts.setText("r", longText);
    EXPECT_EQ(drafts.text("r").size(), Drafts::kMaxChars - 1); // not half of the emoji
    for (int i = 0; i < Drafts::kMaxRooms + 10; ++i)
        drafts.setText(QStringLiteral("room-%1").arg(i), "x");
    EXPECT_EQ(drafts.text(QStringLiteral("room-%1").arg(Drafts::kMaxRooms - 2)), "x");
    EXPECT_EQ(drafts.text(QStringLiteral("room-%1").arg(Drafts::kMaxRooms + 5)), "");
    drafts.setText("r", "바뀐 말"); // a room already kept still changes
    EXPECT_EQ(drafts.text("r"), "바뀐 말");
}

TEST(Drafts, SurviveARestartPerPhone) {
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    const QString file = dir.filePath("settings.ini");
    {
        QSettings settings(file, QSettings::IniFormat);
        Drafts drafts;
        drafts.setText("dm:010:011", "여러\n줄의 = 초안; [괄호]");
        drafts.setText("memo:ab", "메모");
        drafts.save(settings, "010");
        Drafts other;
        other.setText("r-9", "다른 사람");
        other.save(settings, "099");
    }
    QSettings settings(file, QSettings::IniFormat);
    Drafts drafts;
    drafts.load(settings, "010");
    EXPECT_EQ(drafts.text("dm:010:011"), "여러\n줄의 = 초안; [괄호]");
    EXPECT_EQ(drafts.text("memo:ab"), "메모");
    EXPECT_EQ(drafts.text("r-9"), "");
    drafts.load(settings, "099");
    EXPECT_EQ(drafts.text("r-9"), "다른 사람");
    EXPECT_EQ(drafts.text("memo:ab"), "");
    // Nothing left to keep removes the entry.
    Drafts empty;
    empty.save(settings, "099");
    EXPECT_FALSE(settings.contains(QStringLiteral("drafts/") +
                                   QString::fromLatin1(QByteArray("099").toHex())));
}

TEST(Drafts, AnEditedSettingsFileLoadsWhatItCan) {
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    QSettings settings(dir.filePath("settings.ini"), QSettings::IniFormat);
    const QString key = QStringLiteral("drafts/") + QString::fromLatin1(QByteArray("010").toHex());
    const struct {
        const char* label;
        QVariant stored;
        QStringList kept; // room=text
    } cases[] = {
        {"text instead of a map", QVariant(QStringLiteral("엉망")), {}},
        {"number instead of a map", QVariant(42), {}},
        {"values that are not texts",
         QVariantMap{{"r-1", QVariant(QStringList{"a"})},
                     {"r-2", QStringLiteral("좋음")},
                     {"r-3", QVariant(7)}},
         {"r-2=좋음"}},
        {"blank text and empty room", QVariantMap{{"r-1", QStringLiteral("  ")}, {"", "x"}}, {}},
    };
    for (const auto& c : cases) {
        settings.setValue(key, c.stored);
        Drafts drafts;
        drafts.setText("old", "before loading");
        drafts.load(settings, "010");
        QStringList kept;
        for (const char* room : {"r-1", "r-2", "r-3", "", "old"})
            if (!drafts.text(room).isEmpty())
                kept << QString::fromUtf8(room) + "=" + drafts.text(room);
        EXPECT_EQ(kept, c.kept) << c.label;
    }
}
