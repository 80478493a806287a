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
        {"ftp://a.kr www.a.kr file:///etc/passwd javascript:alert(1)", {}},
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
