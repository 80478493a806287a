// Text colours against light, dark and high-contrast palettes, and text already shown following a
// palette change.

#include "readable_color.h"
#include "transcript_format.h"
#include "transcript_view.h"

#include <QApplication>
#include <QLabel>
#include <QStyle>
#include <QStyleFactory>
#include <QTextBlock>
#include <QTextBrowser>
#include <QTextDocument>
#include <gtest/gtest.h>

#include <memory>
#include <set>

using namespace brindlewick;
using namespace brindlewick::transcript;

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

// The level each role must reach against the base; the grey lines' reasons are in
// transcript_format.cpp.
double minimumFor(TextRole role) {
    switch (role) {
    case TextRole::Reply:
    case TextRole::Note:
    case TextRole::Marker:
    case TextRole::ReadLine:
        return kSecondaryContrast;
    default:
        return kTextContrast;
    }
}

constexpr TextRole kRoles[] = {TextRole::Body,        TextRole::Reply, TextRole::OwnHeader,
                               TextRole::OtherHeader, TextRole::Note,  TextRole::Marker,
                               TextRole::ReadLine,    TextRole::Link};

// Widgets learn of it from the event loop.
void setAppPalette(const QPalette& palette) {
    QApplication::setPalette(palette);
    QCoreApplication::processEvents();
}

// Leaves the application's palette as it found it.
class PaletteTest : public ::testing::Test {
protected:
    void TearDown() override {
        setAppPalette(saved);
        useColorsOf(saved);
    }
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

TEST_F(PaletteTest, EveryTranscriptColourReadableOnTheBase) {
    for (const auto& p : kPalettes) {
        const QPalette palette = p.palette();
        useColorsOf(palette);
        const QColor base = palette.color(QPalette::Base);
        const Formats& now = formats();
        for (const TextRole role : kRoles)
            EXPECT_GE(contrastRatio(now.colors[int(role)], base), minimumFor(role))
                << p.name << " role " << int(role);
        // The formats carry them.
        EXPECT_EQ(now.body.foreground().color(), now.colors[int(TextRole::Body)]) << p.name;
        EXPECT_EQ(now.marker.foreground().color(), now.colors[int(TextRole::Marker)]) << p.name;
        EXPECT_EQ(asLink(now.body, "https://a.example").foreground().color(),
                  now.colors[int(TextRole::Link)])
            << p.name;
        // System lines take the view's own text colour.
        EXPECT_FALSE(now.system.hasProperty(QTextFormat::ForegroundBrush)) << p.name;
        // A found match: its text on the highlight.
        const QTextCharFormat found = findHighlight();
        const QColor text = found.hasProperty(QTextFormat::ForegroundBrush)
                                ? found.foreground().color()
                                : now.colors[int(TextRole::Body)];
        EXPECT_GE(contrastRatio(text, found.background().color()), kTextContrast) << p.name;
    }
}

// The light design stays exactly as it was.
TEST_F(PaletteTest, LightPaletteKeepsTheDesignColours) {
    useColorsOf(fusionLight());
    const Formats& now = formats();
    const QColor grey = QColor::fromRgbF(0.5f, 0.5f, 0.5f);
    const struct {
        TextRole role;
        QColor color;
    } cases[] = {
        {TextRole::Body, Qt::black},
        {TextRole::Reply, grey},
        {TextRole::Note, grey},
        {TextRole::Marker, grey},
        {TextRole::OwnHeader, QColor::fromRgbF(0.2f, 0.5f, 0.2f)},
        {TextRole::OtherHeader, QColor::fromRgbF(0.2f, 0.2f, 0.8f)},
        {TextRole::ReadLine, QColor::fromRgbF(0.85f, 0.4f, 0.1f)},
        {TextRole::Link, QColor::fromRgbF(0.1f, 0.4f, 0.8f)},
    };
    for (const auto& c : cases)
        EXPECT_EQ(now.colors[int(c.role)], c.color) << int(c.role);
    EXPECT_EQ(findHighlight().background().color(), QColor(255, 221, 0));
    EXPECT_FALSE(findHighlight().hasProperty(QTextFormat::ForegroundBrush));
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

class ShownTranscript : public PaletteTest {
protected:
    void SetUp() override {
        setAppPalette(fusionLight());
        browser.resize(600, 400);
        browser.show();
        TranscriptEntry old;
        old.msgId = "1";
        old.sender = "하은";
        old.text = "지난 글";
        old.time = old.dayTime = "2026-12-09T20:02:11+09:00";
        transcript.prependEntries({old}, {true, 1});
        transcript.appendChatMsgId("2", "서준", "보세요 https://a.example/x", "", false, "1");
        transcript.appendChatMsgId("3", "민지", "고칠 글", "", true, "");
        transcript.appendChatMsgId("4", "서준", "지울 글", "", false, "");
        transcript.appendFileChatFrom("서준", "지도.png", "9a1c", "5", "", false);
        transcript.appendChat("알림");
        transcript.markEdited("3", "고친 글");
        transcript.markDeleted("4");
        transcript.flush();
    }

    // Every run of text with a colour role, and the roles seen.
    std::set<TextRole> checkColours(const QPalette& palette, const char* name) {
        std::set<TextRole> seen;
        const QColor base = palette.color(QPalette::Base);
        for (QTextBlock b = browser.document()->begin(); b.isValid(); b = b.next())
            for (auto it = b.begin(); !it.atEnd(); ++it) {
                const QTextCharFormat f = it.fragment().charFormat();
                if (!f.hasProperty(kRoleProperty))
                    continue;
                const auto role = TextRole(f.intProperty(kRoleProperty));
                seen.insert(role);
                EXPECT_EQ(f.foreground().color(), formats().colors[int(role)])
                    << name << " " << it.fragment().text().toStdString();
                EXPECT_GE(contrastRatio(f.foreground().color(), base), minimumFor(role))
                    << name << " " << it.fragment().text().toStdString();
            }
        return seen;
    }

    QTextBrowser browser;
    TranscriptView transcript{&browser};
};

TEST_F(ShownTranscript, PaletteSwitchRecoloursTextAlreadyShown) {
    const QString before = transcript.plainText();
    EXPECT_EQ(checkColours(fusionLight(), "light").size(), std::size(kRoles))
        << "the sample shows every role";
    const QColor lightBody = formats().colors[int(TextRole::Body)];
    for (const auto& p : kPalettes) {
        setAppPalette(p.palette());
        checkColours(p.palette(), p.name);
        EXPECT_EQ(browser.palette().color(QPalette::Link), formats().colors[int(TextRole::Link)])
            << p.name;
    }
    // Written after the switch: the new colours.
    transcript.appendChatMsgId("6", "하은", "새 글", "", false, "");
    transcript.flush();
    checkColours(paper(), "paper, then appended");
    setAppPalette(fusionLight());
    checkColours(fusionLight(), "light again");
    EXPECT_EQ(formats().colors[int(TextRole::Body)], lightBody);
    EXPECT_EQ(transcript.plainText(),
              before + "\n" + QString(QChar::ObjectReplacementCharacter) + " 하은  \n새 글\n");
}

} // namespace
