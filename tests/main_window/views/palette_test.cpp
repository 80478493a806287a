// Text colours against light, dark and high-contrast palettes, and text already shown following a
// palette change.

#include "message_layout.h"
#include "readable_color.h"
#include "transcript_fixture.h"

#include <QApplication>
#include <QLabel>
#include <QStyle>
#include <QStyleFactory>
#include <gtest/gtest.h>

#include <cstdlib>
#include <memory>

using namespace brindlewick;

namespace {

QPalette fusionLight() {
    std::unique_ptr<QStyle> fusion(QStyleFactory::create(QStringLiteral("Fusion")));
    return fusion->standardPalette();
}

QPalette paletteOf(QColor window, QColor windowText, QColor base, QColor text) {
    QPalette palette = fusionLight();
    for (const QPalette::ColorGroup group : {QPalette::Active, QPalette::Inactive}) {
        palette.setColor(group, QPalette::Window, window);
        palette.setColor(group, QPalette::WindowText, windowText);
        palette.setColor(group, QPalette::Base, base);
        palette.setColor(group, QPalette::Text, text);
        palette.setColor(group, QPalette::Button, window);
        palette.setColor(group, QPalette::ButtonText, windowText);
    }
    return palette;
}

QPalette dark() {
    return paletteOf(QColor(53, 53, 53), QColor(230, 230, 230), QColor(42, 42, 42),
                     QColor(230, 230, 230));
}

QPalette highContrast() {
    return paletteOf(Qt::black, Qt::white, Qt::black, Qt::white);
}

// A light theme that is not white: the design colours must still pass.
QPalette paper() {
    return paletteOf(QColor(236, 230, 214), QColor(40, 35, 30), QColor(246, 240, 224),
                     QColor(40, 35, 30));
}

const struct {
    const char* name;
    QPalette (*palette)();
} kPalettes[] = {
    {"Fusion light", fusionLight},
    {"dark", dark},
    {"high contrast", highContrast},
    {"paper", paper},
};

// Widgets learn of it from the event loop.
void setAppPalette(const QPalette& palette) {
    QApplication::setPalette(palette);
    QCoreApplication::processEvents();
}

// Leaves the application's palette as it found it.
class PaletteTest : public ::testing::Test {
protected:
    void TearDown() override { setAppPalette(saved); }
    QPalette saved = QApplication::palette();
};

TEST(ReadableColor, KeepsWhatIsReadableAndMovesTheRestJustEnough) {
    const struct {
        QColor intended;
        QColor background;
        double minimum;
        bool kept;
    } cases[] = {
        {Qt::black, Qt::white, 4.5, true},
        {QColor(51, 128, 51), Qt::white, 4.5, true},    // 4.9
        {QColor(128, 128, 128), Qt::white, 4.5, false}, // 3.9: darker
        {QColor(128, 128, 128), Qt::white, 3.0, true},
        {QColor(51, 51, 204), QColor(42, 42, 42), 4.5, false}, // blue on dark: lighter
        {Qt::black, QColor(42, 42, 42), 4.5, false},
        {QColor(255, 221, 0), Qt::white, 4.5, false},
        {QColor(200, 60, 60), QColor(119, 119, 119), 4.5, false}, // mid grey: reaches 4.5 black
    };
    for (const auto& c : cases) {
        const QColor got = readableOn(c.intended, c.background, c.minimum);
        const std::string what =
            c.intended.name().toStdString() + " on " + c.background.name().toStdString();
        EXPECT_EQ(got == c.intended, c.kept) << what;
        EXPECT_GE(contrastRatio(got, c.background), c.minimum) << what;
        if (!c.kept) {
            // No further than needed: a step back toward the intended colour falls short.
            EXPECT_LT(contrastRatio(got, c.background), c.minimum + 0.2) << what;
            if (c.intended.hslSaturation() > 0) {
                EXPECT_NEAR(got.hslHue(), c.intended.hslHue(), 2) << what;
            }
        }
    }
    EXPECT_DOUBLE_EQ(contrastRatio(Qt::black, Qt::white), 21.0);
    EXPECT_DOUBLE_EQ(contrastRatio(Qt::white, Qt::white), 1.0);
    // Nothing reaches 7 on a mid grey: the best there is, without looping.
    const QColor best = readableOn(QColor(200, 60, 60), QColor(119, 119, 119), 7.0);
    EXPECT_GE(contrastRatio(best, QColor(119, 119, 119)), 4.5);
}

// Every text of the transcript against what it is drawn on: the bubbles for what is inside them,
// the base for names, times and lines, the find marks for found text.
TEST(TranscriptColours, EveryTextIsReadableOnWhatItIsDrawnOn) {
    for (const auto& p : kPalettes) {
        SCOPED_TRACE(p.name);
        const QPalette palette = p.palette();
        const TranscriptColors c = TranscriptColors::forPalette(palette, 1);
        EXPECT_EQ(c.base, palette.color(QPalette::Base));
        const struct {
            const char* what;
            QColor text;
            QColor background;
            double minimum;
        } pairs[] = {
            {"own body", c.ownText, c.ownBubble, kTextContrast},
            {"other body", c.otherText, c.otherBubble, kTextContrast},
            {"own link", c.ownLink, c.ownBubble, kTextContrast},
            {"other link", c.otherLink, c.otherBubble, kTextContrast},
            {"own note", c.ownNote, c.ownBubble, kSecondaryContrast},
            {"other note", c.otherNote, c.otherBubble, kSecondaryContrast},
            {"name", c.name, c.base, kTextContrast},
            {"time and lines", c.secondary, c.base, kSecondaryContrast},
            {"read line", c.readLine, c.base, kSecondaryContrast},
            {"found text", c.findText, c.find, kTextContrast},
            {"current found text", c.findText, c.findCurrent, kTextContrast},
        };
        for (const auto& pair : pairs)
            EXPECT_GE(contrastRatio(pair.text, pair.background), pair.minimum) << pair.what;
        // The bubbles stand apart from the base, one's own from the others'.
        EXPECT_NE(c.ownBubble, c.base);
        EXPECT_NE(c.otherBubble, c.base);
        EXPECT_NE(c.ownBubble, c.otherBubble);
    }
}

// On the light palette the designed colours are used as they are.
TEST(TranscriptColours, TheLightPaletteKeepsTheDesignColours) {
    const QPalette palette = fusionLight();
    const TranscriptColors c = TranscriptColors::forPalette(palette, 1);
    const QColor text = palette.color(QPalette::Text);
    EXPECT_EQ(c.ownText, text);
    EXPECT_EQ(c.otherText, text);
    EXPECT_EQ(c.name, text);
    EXPECT_EQ(c.otherLink, QColor::fromRgbF(0.1f, 0.4f, 0.8f));
    EXPECT_EQ(c.secondary, QColor::fromRgbF(0.5f, 0.5f, 0.5f));
    EXPECT_EQ(c.readLine, QColor::fromRgbF(0.85f, 0.4f, 0.1f));
    EXPECT_GT(c.ownBubble.red(), c.ownBubble.blue() + 60) << "one's own bubble is yellow";
}

// Labels with dimmed text (status line, hints) on the window and on lists.
TEST_F(PaletteTest, DimLabelsFollowTheApplicationPalette) {
    QLabel label(QStringLiteral("연결 중…"));
    const QColor dim = QColor::fromRgbF(1.0f / 3, 1.0f / 3, 1.0f / 3);
    keepReadableText(&label, dim);
    for (const auto& p : kPalettes) {
        setAppPalette(p.palette());
        const QPalette shown = label.palette();
        EXPECT_EQ(shown.color(QPalette::Base), p.palette().color(QPalette::Base)) << p.name;
        for (const QPalette::ColorRole text : {QPalette::WindowText, QPalette::Text})
            for (const QPalette::ColorRole background : {QPalette::Window, QPalette::Base})
                EXPECT_GE(contrastRatio(shown.color(text), shown.color(background)), kTextContrast)
                    << p.name << " " << text << " on " << background;
    }
    setAppPalette(fusionLight());
    EXPECT_EQ(label.palette().color(QPalette::WindowText), dim) << "back to the design colour";
}

// Painted colours are 8 bits a channel; the chosen ones may lie between.
::testing::AssertionResult paintedAs(QColor painted, QColor chosen) {
    const QColor c = chosen.toRgb();
    if (std::abs(painted.red() - c.red()) <= 1 && std::abs(painted.green() - c.green()) <= 1 &&
        std::abs(painted.blue() - c.blue()) <= 1)
        return ::testing::AssertionSuccess();
    return ::testing::AssertionFailure()
           << painted.name().toStdString() << " is not " << c.name().toStdString();
}

// A shown transcript takes the colours of each palette it is given, bubbles and base alike.
TEST_F(PaletteTest, AShownTranscriptFollowsThePalette) {
    setAppPalette(fusionLight());
    test::Shown shown;
    shown.transcript.appendChatMsgId("1", "서준", "보세요 https://a.example/x", "", false, "");
    shown.transcript.appendChatMsgId("2", "민지", "내 글", "", true, "1");
    const auto bubbleColour = [&](const char* id) {
        const auto layout = shown.layoutOf(shown.rowOf(id));
        EXPECT_TRUE(layout) << id;
        if (!layout)
            return QColor();
        const QRect bubble = layout->bubble.translated(0, shown.rectOf(id).top());
        return shown.grab().pixelColor(bubble.left() + 4, bubble.bottom() - 3);
    };
    for (const auto& p : kPalettes) {
        SCOPED_TRACE(p.name);
        setAppPalette(p.palette());
        const TranscriptColors expected = TranscriptColors::forPalette(p.palette(), 1);
        EXPECT_TRUE(paintedAs(bubbleColour("1"), expected.otherBubble));
        EXPECT_TRUE(paintedAs(bubbleColour("2"), expected.ownBubble));
        EXPECT_TRUE(paintedAs(shown.grab().pixelColor(2, 2), expected.base));
    }
    // Written after a switch, rows take the colours of now.
    shown.transcript.appendChatMsgId("3", "하은", "새 글", "", false, "");
    EXPECT_TRUE(paintedAs(bubbleColour("3"), TranscriptColors::forPalette(paper(), 1).otherBubble));
}

} // namespace
