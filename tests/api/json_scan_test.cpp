#include "json_scan.h"

#include <QJsonDocument>
#include <QJsonObject>

#include <gtest/gtest.h>

#include <limits>

namespace brindlewick {
namespace {

QString u16(const char16_t* s) {
    return QString::fromUtf16(s);
}

TEST(JsonEscape, NullGivesEmptyNonNullText) {
    const QString out = json::escape(QString());
    EXPECT_TRUE(out.isEmpty());
    EXPECT_FALSE(out.isNull());
}

TEST(JsonEscape, Table) {
    struct Case {
        QString in;
        QString out;
    };
    const Case cases[] = {
        {"plain", "plain"},
        {"a\tb\nc\rd", "a\\tb\\nc\\rd"},
        {"say \"hi\"", "say \\\"hi\\\""},
        {"C:\\dir\\", "C:\\\\dir\\\\"},
        {"a/b", "a/b"},
        {QString(QChar(0x01)) + QChar(0x1F) + QChar(0x08) + QChar(0x0C),
         "\\u0001\\u001f\\u0008\\u000c"},
        {QString(QChar(0)), "\\u0000"},
        {u16(u"홍길동 \U0001F600"), u16(u"홍길동 \U0001F600")},
        {u16(u"\u007F\u0085\u2028"), u16(u"\u007F\u0085\u2028")},
    };
    for (const Case& c : cases)
        EXPECT_EQ(json::escape(c.in), c.out) << c.in.toStdString();
}

// Whatever the text, the escaped form inside quotes is valid JSON that reads back as the text,
// both for a real parser and for our own scanner.
TEST(JsonEscape, EveryAsciiUnitRoundTrips) {
    QString all;
    for (char16_t u = 0; u < 0x80; ++u)
        all.append(QChar(u));
    all += u16(u"한글 \U0001F600 \u2028");
    const QString doc = "{\"k\":\"" + json::escape(all) + "\"}";

    QJsonParseError err;
    const QJsonDocument parsed = QJsonDocument::fromJson(doc.toUtf8(), &err);
    ASSERT_EQ(err.error, QJsonParseError::NoError) << err.errorString().toStdString();
    EXPECT_EQ(parsed.object().value("k").toString(), all);
    EXPECT_EQ(json::stringValue(u"k", doc), all);
}

struct StringCase {
    const char* name;
    QString key;
    QString blob;
    std::optional<QString> expected;
};

TEST(JsonStringValue, Table) {
    const StringCase cases[] = {
        {"simple", "a", R"({"a":"x"})", QString("x")},
        {"empty value is a value", "a", R"({"a":""})", QString("")},
        {"white space around colon", "a", "{\"a\" \n:\t\r\n  \"x\"}", QString("x")},
        {"unicode space after colon", "a", u16(u"{\"a\":\u00A0\u2028\u2029\u0085\"x\"}"),
         QString("x")},
        {"text between key and colon ignored", "a", R"({"a" junk : "x"})", QString("x")},
        {"number", "a", R"({"a":12})", std::nullopt},
        {"true", "a", R"({"a":true})", std::nullopt},
        {"null", "a", R"({"a":null})", std::nullopt},
        {"object", "a", R"({"a":{"b":"c"}})", std::nullopt},
        {"array", "a", R"({"a":["x"]})", std::nullopt},
        {"missing key", "b", R"({"a":"x"})", std::nullopt},
        {"case-sensitive", "id", R"({"ID":"x"})", std::nullopt},
        {"no colon after key", "a", R"({"a")", std::nullopt},
        {"text ends after colon", "a", "{\"a\":  ", std::nullopt},
        {"key not matched inside longer key", "id", R"({"room_id":"1","id":"2"})", QString("2")},
        {"first occurrence wins at any depth", "id", R"({"x":{"id":"inner"},"id":"outer"})",
         QString("inner")},
        {"key first seen as a value", "phone", R"({"title":"phone","phone":"010"})",
         QString("010")},
        {"value text taken as key reads the next member", "b", R"({"a":"b","c":"d"})",
         QString("d")},
        {"escaped quote", "a", R"({"a":"say \"hi\" now","b":"z"})", QString("say \"hi\" now")},
        {"escaped backslash before closing quote", "a", R"({"a":"dir\\","b":"z"})",
         QString("dir\\")},
        {"short escapes decoded", "a", R"({"a":"1\n2\t3\r4\b5\f6\/7"})",
         QString("1\n2\t3\r4\b5\f6/7")},
        {"unicode escape", "a", R"({"a":"\u0041\u00e9"})", u16(u"A\u00E9")},
        {"korean escapes", "a", R"({"a":"\uD64D\uAE38\uB3D9"})", u16(u"홍길동")},
        {"surrogate pair escape", "a", R"({"a":"\uD83D\uDE00!"})", u16(u"\U0001F600!")},
        {"raw non-BMP passes through", "a", u16(u"{\"a\":\"\U0001F600\"}"), u16(u"\U0001F600")},
        {"bad hex keeps the u", "a", R"({"a":"\u00G1"})", QString("u00G1")},
        {"short unicode escape at end", "a", R"({"a":"\u12)", QString("u12")},
        {"unknown escape keeps the unit", "a", R"({"a":"\q\'"})", QString("q'")},
        {"open string at end", "a", R"({"a":"abc)", QString("abc")},
        {"lone backslash at end", "a", R"({"a":"abc\)", QString("abc\\")},
        {"raw control characters kept", "a", "{\"a\":\"x\ty\"}", QString("x\ty")},
    };
    for (const StringCase& c : cases) {
        SCOPED_TRACE(c.name);
        const std::optional<QString> got = json::stringValue(c.key, c.blob);
        ASSERT_EQ(got.has_value(), c.expected.has_value());
        if (got) {
            EXPECT_EQ(*got, *c.expected);
        }
    }
}

TEST(JsonStringValue, NullKeyOrBlobGivesNothing) {
    EXPECT_EQ(json::stringValue(QString(), QString(R"({"":"x"})")), std::nullopt);
    EXPECT_EQ(json::stringValue(u"a", QString()), std::nullopt);
}

TEST(JsonIntValue, Table) {
    constexpr qint64 kMax = std::numeric_limits<qint64>::max();
    const struct {
        const char* name;
        QString blob;
        qint64 expected;
    } cases[] = {
        {"bare", R"({"n":42})", 42},
        {"white space", "{\"n\" :\n\t 7 ,}", 7},
        {"zero", R"({"n":0})", 0},
        {"negative", R"({"n":-5})", 0},
        {"quoted", R"({"n":"5"})", 0},
        {"fraction cut", R"({"n":2.9})", 2},
        {"exponent cut", R"({"n":3e5})", 3},
        {"digits then letters", R"({"n":12abc})", 12},
        {"missing", R"({"m":1})", 0},
        {"ends after colon", R"({"n":)", 0},
        {"largest", R"({"n":9223372036854775807})", kMax},
        {"overflow saturates", R"({"n":99999999999999999999999})", kMax},
        {"full-width digits are not digits", u16(u"{\"n\":\uFF11\uFF12}"), 0},
        {"first occurrence", R"({"x":{"n":1},"n":2})", 1},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(json::intValue(u"n", c.blob), c.expected);
    }
}

} // namespace
} // namespace brindlewick
