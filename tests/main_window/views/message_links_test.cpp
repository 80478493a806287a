// Which stretches of message text become links, and which clicked links may be opened.

#include "message_links.h"

#include <gtest/gtest.h>

using namespace brindlewick;

TEST(MessageLinksTest, FindsWebAndMailAddressesOnly) {
    const struct {
        QString text;
        QStringList links;
    } cases[] = {
        {"https://a.kr", {"https://a.kr"}},
        {"보기 http://a.kr/x?y=1&z=2#f 끝", {"http://a.kr/x?y=1&z=2#f"}},
        {"HTTPS://A.KR/B", {"HTTPS://A.KR/B"}},
        {"mailto:x@y.kr, 그리고 https://b.kr.", {"mailto:x@y.kr", "https://b.kr"}},
        {"(https://a.kr/wiki/X_(y)) 와 (https://b.kr)",
         {"https://a.kr/wiki/X_(y)", "https://b.kr"}},
        {"\"https://a.kr\"<https://b.kr>", {"https://a.kr", "https://b.kr"}},
        {"https://a.kr\u3000다음", {"https://a.kr"}},
        {"https://a.kr\u2028다음", {"https://a.kr"}},
        {"https://", {}},
        {"mailto:", {}},
        {"xhttps://a.kr", {}},
        {"ftp://a.kr file:///etc/passwd javascript:alert(1)", {}},
        {"brindlewick-file://F1/a.txt", {}},
        {"", {}},
    };
    for (const auto& c : cases) {
        QStringList got;
        for (const Address& a : findAddresses(c.text)) {
            EXPECT_EQ(c.text.mid(a.start, a.href.size()), a.href) << c.text.toStdString();
            got << a.href;
        }
        EXPECT_EQ(got, c.links) << c.text.toStdString();
    }
}

TEST(MessageLinksTest, OpensOnlyWebAndMailUrls) {
    for (const char* yes : {"https://a.kr", "http://a.kr/x", "mailto:x@y.kr"})
        EXPECT_TRUE(isOpenableAddress(QUrl(yes))) << yes;
    for (const char* no : {"file:///etc/passwd", "brindlewick-file://F/x", "javascript:x",
                           "https://", "mailto:", "", "ftp://a.kr"})
        EXPECT_FALSE(isOpenableAddress(QUrl(no))) << no;
}

// Bare "www." and e-mail addresses link too, opening as http and mailto; anything that only
// resembles one stays text, and an address inside another is part of it.
TEST(MessageLinksTest, BareWebAndMailAddresses) {
    const struct {
        QString text;
        QStringList links;   // as written
        QStringList targets; // what a click opens
    } cases[] = {
        {"www.a.kr", {"www.a.kr"}, {"http://www.a.kr"}},
        {"여기 www.naver.com/x?q=1 보세요.",
         {"www.naver.com/x?q=1"},
         {"http://www.naver.com/x?q=1"}},
        {"WWW.A.KR.", {"WWW.A.KR"}, {"http://WWW.A.KR"}},
        {"(www.a.kr)", {"www.a.kr"}, {"http://www.a.kr"}},
        {"me@a.kr", {"me@a.kr"}, {"mailto:me@a.kr"}},
        {"메일 first.last+tag@mail.example.co.kr 로",
         {"first.last+tag@mail.example.co.kr"},
         {"mailto:first.last+tag@mail.example.co.kr"}},
        {"<me@a.kr>, you@b.kr.", {"me@a.kr", "you@b.kr"}, {"mailto:me@a.kr", "mailto:you@b.kr"}},
        {"me@a.kr로 보내", {"me@a.kr"}, {"mailto:me@a.kr"}},
        {"https://www.a.kr/x", {"https://www.a.kr/x"}, {"https://www.a.kr/x"}},
        {"https://a.kr/?to=me@b.kr", {"https://a.kr/?to=me@b.kr"}, {"https://a.kr/?to=me@b.kr"}},
        {"mailto:me@a.kr", {"mailto:me@a.kr"}, {"mailto:me@a.kr"}},
        {"me@a.kr www.b.kr https://c.kr",
         {"me@a.kr", "www.b.kr", "https://c.kr"},
         {"mailto:me@a.kr", "http://www.b.kr", "https://c.kr"}},
        {"www.", {}, {}},
        {"www.kr", {}, {}},
        {"awww.a.kr", {}, {}},
        {"a.www.b.kr", {}, {}},
        {"@a.kr me@ me@a @b", {}, {}},
        {"me@a.k", {}, {}},
        {"me@a.kr1", {}, {}},
        {"me@localhost", {}, {}},
    };
    for (const auto& c : cases) {
        QStringList links, targets;
        for (const Address& a : findAddresses(c.text)) {
            EXPECT_EQ(c.text.mid(a.start, a.href.size()), a.href) << c.text.toStdString();
            EXPECT_TRUE(isOpenableAddress(QUrl(a.target))) << a.target.toStdString();
            links << a.href;
            targets << a.target;
        }
        EXPECT_EQ(links, c.links) << c.text.toStdString();
        EXPECT_EQ(targets, c.targets) << c.text.toStdString();
    }
}
