#include "log.h"

#include <gtest/gtest.h>

using namespace brindlewick::server;

TEST(LogEscape, NothingAPeerSendsCanBreakOrRecolourALine) {
    struct Case {
        std::string in, out;
    } cases[] = {
        {"plain 한글 text", "plain 한글 text"},
        {"a\nb\r\tc", "a\\nb\\r\\tc"},
        {std::string("nul\0x", 5), "nul\\x00x"},
        {"\x1b[2Jcleared", "\\x1b[2Jcleared"},
        {"del\x7f", "del\\x7f"},
        {"back\\slash", "back\\\\slash"},
        {"\xC2\x85next line (C1)", "\\xc2\\x85next line (C1)"},
        {"\xC2\xA0nbsp stays", "\xC2\xA0nbsp stays"},
        {"\xFF\xFE"
         "bad",
         "\\xff\\xfebad"},
        {"cut \xED\x95", "cut \\xed\\x95"},
        {"\xF0\x9F\x98\x80 emoji", "\xF0\x9F\x98\x80 emoji"},
    };
    for (const Case& c : cases)
        EXPECT_EQ(escapeForLog(c.in), c.out) << c.out;
}
