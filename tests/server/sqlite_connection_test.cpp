// The SQLite layer's statement cache.

#include "sqlite_connection.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

using namespace brindlewick::server;

namespace {

TEST(SqliteConnection, StatementsAreCachedByTextNotByAddress) {
    SqliteConnection db(":memory:");
    db.exec("CREATE TABLE t(k INTEGER PRIMARY KEY, v TEXT NOT NULL)");
    db.exec("INSERT INTO t(k, v) VALUES(1, 'one'), (2, 'two'), (3, 'three')");

    // Every text is written into the same buffer, so all of them share one address; each
    // still needs its own statement, on the first pass and from the cache on the second.
    const std::vector<std::pair<std::string, std::string>> cases = {
        {"1", "one"}, {"2", "two"}, {"3", "three"}};
    std::string sql;
    sql.reserve(256);
    const char* const address = sql.data();
    for (int pass = 0; pass < 2; ++pass) {
        for (const auto& [key, value] : cases) {
            sql.assign("SELECT v FROM t WHERE k=").append(key);
            ASSERT_EQ(sql.data(), address);
            Statement& s = db.prepare(sql);
            ASSERT_TRUE(s.step()) << sql;
            EXPECT_EQ(s.text(0), value) << "pass " << pass << ": " << sql;
            EXPECT_FALSE(s.step());
        }
    }

    // Equal texts at different addresses share one statement, reset for the second caller.
    const std::string a = "SELECT v FROM t WHERE k=?1";
    const std::string b = a;
    Statement& first = db.prepare(a).bind(1, 2);
    ASSERT_TRUE(first.step());
    Statement& second = db.prepare(b);
    EXPECT_EQ(&first, &second);
    ASSERT_TRUE(second.bind(1, 3).step());
    EXPECT_EQ(second.text(0), "three");

    EXPECT_THROW(db.prepare(std::string("SELECT nothing FROM nowhere")), DatabaseError);
}

} // namespace
