// A database written by a server from before client ids: opened by this one, it gains them and
// keeps what it had, on each storage back end.

#include "backends.h"
#include "pg_connection.h"
#include "postgres_storage.h"
#include "server_harness.h"
#include "sqlite_storage.h"

#include <gtest/gtest.h>

#include <memory>

using namespace brindlewick;
using namespace brindlewick::server;
using namespace brindlewick::test;

namespace {

const std::string kRoom = "memo:a";
const std::string kId = "0123456789abcdef0123456789abcdef";

MessageRecord chat(const std::string& text) {
    MessageRecord m;
    m.room = kRoom;
    m.kind = "chat";
    m.sender = "111";
    m.senderName = "앨리스";
    m.text = text;
    m.time = "2026-12-11T09:00:00+09:00";
    return m;
}

class ClientIdUpgradeTest : public ::testing::TestWithParam<Backend> {
protected:
    void SetUp() override {
        dir = makeTempDir();
        std::string why;
        const std::string args = backendArgs(GetParam(), why);
        if (!why.empty())
            GTEST_SKIP() << why;
        uri = args.empty() ? std::string() : args.substr(std::string(" --postgres ").size());
    }
    void TearDown() override { std::system(("rm -rf " + dir).c_str()); }
    std::unique_ptr<Storage> open() {
        if (uri.empty())
            return std::make_unique<SqliteStorage>(dir + "/brindlewick.db");
        return std::make_unique<PostgresStorage>(uri);
    }
    // Takes the tables back to what the server before client ids made.
    void downgrade() {
        const char* const kBefore = "DROP TABLE client_ids; "
                                    "ALTER TABLE messages DROP COLUMN client_id;";
        if (uri.empty()) {
            SqliteStorage(dir + "/brindlewick.db").db().exec(kBefore);
        } else {
            PgConnection db(uri);
            db.exec(std::string(kBefore) + " UPDATE schema_version SET version=3;");
        }
    }

    std::string dir;
    std::string uri; // empty: SQLite in `dir`
};

TEST_P(ClientIdUpgradeTest, AnOlderDatabaseGainsClientIdsAndKeepsItsMessages) {
    {
        auto storage = open();
        storage->begin();
        storage->createRoom(kRoom, "memo", "메모", "111");
        MessageRecord m = chat("전");
        storage->appendMessage(m);
        storage->commit();
    }
    downgrade();
    auto storage = open();
    storage->begin();
    MessageRecord m = chat("후");
    m.clientId = kId;
    EXPECT_FALSE(storage->appendMessageOnce(m));
    EXPECT_EQ(m.id, 2);
    MessageRecord again = m;
    const auto earlier = storage->appendMessageOnce(again);
    ASSERT_TRUE(earlier);
    EXPECT_EQ(earlier->msgId, 2);
    storage->commit();
    const HistorySlice slice = storage->history(kRoom, 100, 10, 1 << 20);
    ASSERT_EQ(slice.rows.size(), 2u);
    EXPECT_EQ(slice.rows[0].message.text, "전");
    EXPECT_EQ(slice.rows[0].message.clientId, "");
    EXPECT_EQ(slice.rows[1].message.clientId, kId);
}

INSTANTIATE_TEST_SUITE_P(Storage, ClientIdUpgradeTest, kBackends, backendName);

} // namespace
