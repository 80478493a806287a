// The small rules behind fairness between clients: PROXY headers, rates, and the characters
// names may not hold.

#include <field_limits.h>
#include <proxy_header.h>
#include <rate_limit.h>
#include <sender_limits.h>

#include <gtest/gtest.h>

#include <string>
#include <vector>

using namespace brindlewick::server;

namespace {

std::string proxyHeader(unsigned char versionCommand, unsigned char family,
                        const std::string& addresses) {
    std::string h("\x0D\x0A\x0D\x0A\x00\x0D\x0A\x51\x55\x49\x54\x0A", 12);
    h += static_cast<char>(versionCommand);
    h += static_cast<char>(family);
    h += static_cast<char>(addresses.size() >> 8);
    h += static_cast<char>(addresses.size() & 0xFF);
    return h + addresses;
}

std::string bytes(std::initializer_list<int> values) {
    std::string out;
    for (int v : values)
        out += static_cast<char>(v);
    return out;
}

TEST(ProxyHeader, ParsesWhatAProxySendsAndNothingElse) {
    const std::string v4 = bytes({10, 1, 2, 3, 127, 0, 0, 1, 0x30, 0x39, 0x23, 0x28});
    std::string v6(16, '\0');
    v6[0] = '\x20';
    v6[1] = '\x01';
    v6[15] = '\x05';
    v6 += std::string(16, '\0') + bytes({0x01, 0xBB, 0x23, 0x28});
    std::string mapped(10, '\0');
    mapped += bytes({0xFF, 0xFF, 192, 0, 2, 7});
    mapped += std::string(16, '\0') + bytes({0, 80, 0, 80});
    struct Case {
        const char* name;
        std::string header;
        bool valid;
        bool proxied;
        const char* address;
        int port;
    };
    const std::vector<Case> cases = {
        {"tcp4", proxyHeader(0x21, 0x11, v4), true, true, "10.1.2.3", 12345},
        {"tcp4 with a TLV after", proxyHeader(0x21, 0x11, v4 + bytes({0x04, 0, 1, 'x'})), true,
         true, "10.1.2.3", 12345},
        {"tcp6", proxyHeader(0x21, 0x21, v6), true, true, "2001::5", 443},
        {"v4 mapped in tcp6", proxyHeader(0x21, 0x21, mapped), true, true, "192.0.2.7", 80},
        {"local (a health check)", proxyHeader(0x20, 0x00, ""), true, false, "", 0},
        {"unspecified family", proxyHeader(0x21, 0x00, ""), true, false, "", 0},
        {"tcp4 too short", proxyHeader(0x21, 0x11, v4.substr(0, 8)), false, false, "", 0},
        {"version 1 command byte", proxyHeader(0x11, 0x11, v4), false, false, "", 0},
        {"unknown command", proxyHeader(0x2F, 0x11, v4), false, false, "", 0},
        {"unknown family", proxyHeader(0x21, 0x51, v4), false, false, "", 0},
        {"bad signature",
         "\x0D\x0A\x0D\x0A\x00\x0D\x0A\x51\x55\x49\x54\x0B" +
             proxyHeader(0x21, 0x11, v4).substr(12),
         false, false, "", 0},
    };
    for (const Case& c : cases) {
        const auto* data = reinterpret_cast<const unsigned char*>(c.header.data());
        const auto source = ProxyHeader::parse(data, c.header.size());
        ASSERT_EQ(source.has_value(), c.valid) << c.name;
        if (!source)
            continue;
        EXPECT_EQ(source->proxied, c.proxied) << c.name;
        EXPECT_EQ(source->address, c.address) << c.name;
        EXPECT_EQ(source->port, c.port) << c.name;
    }
    // A header longer than anyone sends is refused from its fixed part already.
    std::string huge = proxyHeader(0x21, 0x11, std::string(5000, 'x'));
    EXPECT_FALSE(ProxyHeader::remainingBytes(reinterpret_cast<const unsigned char*>(huge.data())));
    // A truncated one never reads past what it was given.
    const std::string whole = proxyHeader(0x21, 0x11, v4);
    EXPECT_FALSE(
        ProxyHeader::parse(reinterpret_cast<const unsigned char*>(whole.data()), whole.size() - 1));
}

TEST(TokenBucket, ChargesAfterTheFactAndRefillsAtItsRate) {
    const auto t0 = TokenBucket::Clock::time_point{} + std::chrono::hours(1);
    TokenBucket bucket(10, 20, t0);
    for (int i = 0; i < 20; ++i)
        bucket.charge(1, t0);
    EXPECT_EQ(bucket.wait(t0), TokenBucket::Clock::duration::zero());
    // One over the burst owes a tenth of a second.
    bucket.charge(1, t0);
    EXPECT_NEAR(std::chrono::duration<double>(bucket.wait(t0)).count(), 0.1, 1e-6);
    // A single large request is taken, and paid for later.
    bucket.charge(50, t0);
    EXPECT_NEAR(std::chrono::duration<double>(bucket.wait(t0)).count(), 5.1, 1e-6);
    EXPECT_NEAR(std::chrono::duration<double>(bucket.wait(t0 + std::chrono::seconds(5))).count(),
                0.1, 1e-6);
    EXPECT_FALSE(bucket.full(t0 + std::chrono::seconds(6)));
    EXPECT_TRUE(bucket.full(t0 + std::chrono::seconds(8)));
    // Time standing still or going back changes nothing.
    EXPECT_TRUE(bucket.full(t0));
}

TEST(SenderLimits, CountAllOfAUsersConnectionsTogetherAndForgetIdleOnes) {
    const auto t0 = TokenBucket::Clock::time_point{} + std::chrono::hours(1);
    SendRates rates;
    rates.messagesPerSecond = 5;
    rates.bytesPerSecond = 1000;
    rates.burstSeconds = 2;
    SenderLimits limits(rates);
    // Ten messages pass at once, the eleventh waits; another user is not affected.
    for (int i = 0; i < 10; ++i)
        EXPECT_EQ(limits.charge("a", 1, t0), TokenBucket::Clock::duration::zero()) << i;
    EXPECT_GT(limits.charge("a", 1, t0), TokenBucket::Clock::duration::zero());
    EXPECT_EQ(limits.charge("b", 1, t0), TokenBucket::Clock::duration::zero());
    // Bytes count on their own: one message of 3,000 bytes owes a second.
    EXPECT_NEAR(std::chrono::duration<double>(limits.charge("c", 3000, t0)).count(), 1.0, 1e-6);
    EXPECT_EQ(limits.tracked(), 3u);
    limits.forgetIdle(t0 + std::chrono::seconds(10));
    EXPECT_EQ(limits.tracked(), 0u);
}

TEST(FieldLimits, NamesMayNotHideOrReorderTheTextAroundThem) {
    struct Case {
        Field field;
        const char* value;
        bool refused;
    };
    const std::vector<Case> cases = {
        {Field::FileName, "invoice\u202Eexe.pdf", true},     // right-to-left override
        {Field::Nickname, "\uAD00\u200B\uB9AC\uC790", true}, // zero width space
        {Field::Nickname, "a\u2066b\u2069", true},           // isolates
        {Field::Title, "line\nbreak", true},
        {Field::Title, "tab\there", true},
        {Field::Alias, "soft\u00ADhyphen", true},
        {Field::Alias, "bom\uFEFF", true},
        {Field::Title, "para\u2029sep", true},
        {Field::Nickname, "\xF3\xA0\x80\x81tag", true}, // U+E0001 language tag
        {Field::Nickname, "\u1100\u1161 \uAD00\uB9AC\uC790", false},
        {Field::FileName, "report (final) v2.pdf", false},
        {Field::Nickname, "\U0001F468\u200D\U0001F469\u200D\U0001F467", false}, // joiners
        {Field::Nickname, "\u0645\u06CC\u200C\u062E\u0648\u0627\u0647\u0645", false},
        {Field::Nickname, "\U0001F3F4\U000E0067\U000E0062\U000E007F", false}, // emoji tags
        {Field::Nickname, "\u05E9\u05DC\u05D5\u05DD", false}, // right-to-left script itself
        {Field::Status, "a\u202Eb", false},                   // not a name
    };
    for (const Case& c : cases)
        EXPECT_EQ(hiddenCharacters(c.field, c.value).empty(), !c.refused) << c.value;
    EXPECT_EQ(hiddenCharacters(Field::FileName, "a\u202Eb"),
              "파일 이름에 쓸 수 없는 문자가 있습니다");
}

} // namespace
