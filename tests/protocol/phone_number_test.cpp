#include "phone_number.h"

#include <gtest/gtest.h>

using brindlewick::normalizePhone;

TEST(PhoneNumber, KeepsDigitsAndALeadingPlus) {
    struct Case {
        const char* typed;
        const char* expected;
    } cases[] = {
        {"01033334444", "01033334444"},
        {"010-3333-4444", "01033334444"},
        {"010 3333 4444", "01033334444"},
        {" (010) 3333.4444\t", "01033334444"},
        {"+82 10-3333-4444", "+821033334444"},
        {" +82", "+82"},
        {"++82", "+82"},
        {"(+82) 10", "+8210"},
        {"82+10", "8210"}, // a "+" after digits is no prefix
        {"010-3333-4444+", "01033334444"},
        {"０１０-3", "3"}, // only ASCII digits count
        {"전화 010-1", "0101"},
        {"", ""},
        {"   ", ""},
        {"+", ""}, // a prefix without a number names nobody
        {"---", ""},
        {"전화번호", ""},
    };
    for (const Case& c : cases)
        EXPECT_EQ(normalizePhone(c.typed), c.expected) << '"' << c.typed << '"';
}

TEST(PhoneNumber, IsStable) {
    for (const char* typed : {"010-3333-4444", "+82 10 1", "x"})
        EXPECT_EQ(normalizePhone(normalizePhone(typed)), normalizePhone(typed)) << typed;
}
