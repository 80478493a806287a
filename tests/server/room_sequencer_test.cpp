// Putting deliveries from several instances back into id order, and their encoding between
// instances. No sockets: the database's answers are given by hand.

#include "cluster.h"
#include "room_sequencer.h"

#include <messages.h>

#include <gtest/gtest.h>

#include <string>
#include <tuple>
#include <vector>

using namespace brindlewick;
using namespace brindlewick::server;
using Clock = RoomSequencer::Clock;
using namespace std::chrono_literals;

namespace {

Delivery message(const std::string& room, std::int64_t id) {
    auto members = std::make_shared<const std::vector<std::string>>(
        std::vector<std::string>{"+821011112222", "+821033334444"});
    return {members,
            std::make_shared<const std::string>(
                wire::encodeFrame(wire::ChatMessage{room, "a", "text " + std::to_string(id), "t",
                                                    std::to_string(id), "+821011112222", ""})),
            room, id};
}

Delivery edit(const std::string& room, const std::string& label) {
    Delivery d = message(room, 0);
    d.frame = std::make_shared<const std::string>(wire::encodeFrame(wire::Edit{room, "1", label}));
    return d;
}

struct Fill {
    std::string room;
    std::int64_t after;
    std::int64_t before;
};

class RoomSequencerTest : public ::testing::Test {
protected:
    RoomSequencerTest()
        : sequencer(
              [this](const Delivery& d) {
                  seen.push_back(d.room + (d.id ? "#" + std::to_string(d.id)
                                                : ":" + wire::Edit::decode(fields(d))->text));
              },
              [this](const std::string& room, std::int64_t after, std::int64_t before) {
                  fills.push_back({room, after, before});
              },
              100ms) {}

    static FieldList fields(const Delivery& d) {
        FieldList out;
        std::string copy = *d.frame;
        ChatProtocol::consumeBuffer(copy, [&](std::uint8_t, const FieldList& f) { out = f; });
        return out;
    }
    // Answers the oldest open fill from a database holding ids 1..`newest` of its room.
    void answerFill(std::int64_t newest, std::vector<std::int64_t> lacking = {}) {
        ASSERT_FALSE(fills.empty());
        const Fill f = fills.front();
        fills.erase(fills.begin());
        std::vector<Delivery> rows;
        for (std::int64_t id = newest; id >= 1; --id) // any order
            if (id > f.after && id < f.before &&
                std::find(lacking.begin(), lacking.end(), id) == lacking.end())
                rows.push_back(message(f.room, id));
        sequencer.filled(f.room, f.after, f.before, std::move(rows));
    }

    Clock::time_point t0 = Clock::now();
    std::vector<std::string> seen;
    std::vector<Fill> fills;
    RoomSequencer sequencer;
};

TEST_F(RoomSequencerTest, ArrivalOrdersWithinTheHoldTimeComeOutInIdOrderOnce) {
    struct Case {
        const char* name;
        std::vector<std::int64_t> arrivals;
    };
    const Case cases[] = {
        {"in order", {1, 2, 3, 4}},
        {"swapped pair", {2, 1, 4, 3}},
        {"reversed", {4, 3, 2, 1}},
        {"duplicates from both paths", {1, 1, 3, 2, 3, 2, 4, 1}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        seen.clear();
        const std::string room = std::string("r-") + c.name;
        sequencer.setBaseline({}, t0);
        for (std::int64_t id : c.arrivals)
            sequencer.submit(message(room, id), t0 + 10ms);
        sequencer.tick(t0 + 50ms); // inside the hold time: nothing asked
        EXPECT_EQ(seen,
                  (std::vector<std::string>{room + "#1", room + "#2", room + "#3", room + "#4"}));
        EXPECT_TRUE(fills.empty());
        EXPECT_EQ(sequencer.waitingRooms(), 0u);
    }
}

TEST_F(RoomSequencerTest, AGapOutlivingTheHoldTimeIsFilledFromTheDatabase) {
    sequencer.setBaseline({{"room", 3}}, t0);
    sequencer.submit(message("room", 6), t0);
    sequencer.submit(message("room", 7), t0);
    sequencer.submit(edit("room", "after 7"), t0);
    EXPECT_TRUE(sequencer.watching()) << "held ids need the clock";
    sequencer.tick(t0 + 99ms);
    EXPECT_TRUE(seen.empty());
    EXPECT_TRUE(fills.empty());
    sequencer.tick(t0 + 100ms);
    ASSERT_EQ(fills.size(), 1u);
    EXPECT_EQ(std::tie(fills[0].room, fills[0].after, fills[0].before),
              std::make_tuple(std::string("room"), std::int64_t(3), std::int64_t(6)));
    // Live copies arriving while the database is read change nothing.
    sequencer.submit(message("room", 4), t0 + 120ms);
    answerFill(7);
    EXPECT_EQ(seen,
              (std::vector<std::string>{"room#4", "room#5", "room#6", "room#7", "room:after 7"}));
    sequencer.submit(message("room", 5), t0 + 200ms);
    sequencer.submit(message("room", 8), t0 + 200ms);
    EXPECT_EQ(seen.back(), "room#8");
    EXPECT_EQ(seen.size(), 6u);
    EXPECT_EQ(sequencer.waitingRooms(), 0u);
    sequencer.tick(t0 + 300ms);
    EXPECT_FALSE(sequencer.watching()) << "nothing waits: the clock may stop";
}

TEST_F(RoomSequencerTest, EditsAndNoticesStayBehindTheMessagesBeforeThem) {
    sequencer.setBaseline({}, t0);
    sequencer.submit(edit("room", "first"), t0);
    sequencer.submit(message("room", 2), t0);
    sequencer.submit(edit("room", "after 2"), t0);
    sequencer.submit(message("other", 1), t0); // another room does not wait
    sequencer.submit(message("room", 1), t0);
    EXPECT_EQ(seen, (std::vector<std::string>{"room:first", "other#1", "room#1", "room#2",
                                              "room:after 2"}));
}

TEST_F(RoomSequencerTest, NothingGoesOutBeforeTheBaselineAndItsIdsAreNotRepeated) {
    sequencer.submit(message("room", 5), t0);
    sequencer.submit(message("room", 6), t0);
    sequencer.submit(message("new", 1), t0);
    EXPECT_TRUE(seen.empty());
    sequencer.setBaseline({{"room", 5}}, t0);
    EXPECT_EQ(seen, (std::vector<std::string>{"room#6", "new#1"}));
    EXPECT_EQ(sequencer.duplicatesDropped(), 1u);
    // A later baseline (a sweep) never moves a room back.
    sequencer.setBaseline({{"room", 2}}, t0);
    EXPECT_EQ(sequencer.lastDelivered("room"), 6);
}

TEST_F(RoomSequencerTest, CatchUpReadsWhatWasMissedAndSkipsIdsTheDatabaseLacks) {
    sequencer.setBaseline({{"room", 2}}, t0);
    sequencer.catchUp("room", 2); // nothing new
    EXPECT_TRUE(fills.empty());
    sequencer.catchUp("room", 6);
    sequencer.catchUp("room", 7); // one read at a time
    ASSERT_EQ(fills.size(), 1u);
    EXPECT_EQ(fills[0].after, 2);
    EXPECT_EQ(fills[0].before, 7);
    answerFill(6, {4});
    EXPECT_EQ(seen, (std::vector<std::string>{"room#3", "room#5", "room#6"}));
    EXPECT_EQ(sequencer.lastDelivered("room"), 6);
}

TEST_F(RoomSequencerTest, AFailedFillIsAskedAgainAndAFurtherGapGetsItsOwnFill) {
    sequencer.setBaseline({}, t0);
    sequencer.submit(message("room", 2), t0);
    sequencer.submit(message("room", 5), t0);
    sequencer.tick(t0 + 100ms);
    ASSERT_EQ(fills.size(), 1u);
    fills.clear();
    sequencer.fillFailed("room");
    sequencer.tick(t0 + 110ms);
    ASSERT_EQ(fills.size(), 1u);
    EXPECT_EQ(fills[0].before, 2);
    answerFill(1);
    EXPECT_EQ(seen, (std::vector<std::string>{"room#1", "room#2"}));
    sequencer.tick(t0 + 120ms); // 3 and 4 were waited for already
    ASSERT_EQ(fills.size(), 1u);
    EXPECT_EQ(std::tie(fills[0].after, fills[0].before),
              std::make_tuple(std::int64_t(2), std::int64_t(5)));
    answerFill(5);
    EXPECT_EQ(seen.back(), "room#5");
    EXPECT_EQ(seen.size(), 5u);
}

TEST(FanoutEncodingTest, RoundTripsAndRefusesEveryTruncationAndBadHeader) {
    Delivery d = message("dm:+821011112222:+821033334444", 42);
    const std::string bytes = encodeFanout(d);
    const auto back = decodeFanout(bytes.data(), bytes.size());
    ASSERT_TRUE(back);
    EXPECT_EQ(back->room, d.room);
    EXPECT_EQ(back->id, 42);
    EXPECT_EQ(*back->recipients, *d.recipients);
    EXPECT_EQ(*back->frame, *d.frame);
    // Cut anywhere inside the header or the recipients, or before a whole frame header: refused.
    const std::size_t frameStart = bytes.size() - d.frame->size();
    for (std::size_t cut = 0; cut < frameStart + ChatProtocol::kHeaderSize; ++cut)
        EXPECT_FALSE(decodeFanout(bytes.data(), cut)) << cut;
    struct Bad {
        const char* name;
        std::size_t offset;
        char value;
    };
    const Bad bad[] = {{"unknown format", 0, 9},
                       {"room length past the end", 1, '\x7f'},
                       {"recipient count past the end", 1 + 4 + d.room.size() + 8, '\x7f'}};
    for (const Bad& b : bad) {
        std::string broken = bytes;
        broken[b.offset] = b.value;
        EXPECT_FALSE(decodeFanout(broken.data(), broken.size())) << b.name;
    }
    EXPECT_EQ(roomSubject("a.b *"), "brindlewick.room.612e62202a");
}

} // namespace
