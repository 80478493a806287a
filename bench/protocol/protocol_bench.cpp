// Frame codec figures, each as a ratio to a baseline measured in the same run:
//   splitting and encoding throughput against memcpy of the same bytes,
//   and time per frame for 10,000 versus 1,000,000 frames in one buffer.
#include "chat_protocol.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <random>
#include <string>
#include <vector>

using namespace brindlewick;
using Clock = std::chrono::steady_clock;

namespace {

volatile std::size_t sink;

// Korean chat frames with payloads of 60 to 600 bytes.
std::vector<FieldList> makeMessages(std::size_t count) {
    std::mt19937 rng(7);
    const std::string syllables[] = {"안", "녕", "하", "세", "요", "오", "늘", "회", "의", "는",
                                     "몇", "시", "에", "할", "까", " ",  " ",  "?",  "!",  "ㅋ"};
    std::uniform_int_distribution<int> pick(0, 19);
    std::uniform_int_distribution<int> length(60, 600);
    std::vector<FieldList> out;
    out.reserve(count);
    for (std::size_t i = 0; i < count; ++i) {
        FieldList fields{"dm:01012345678:01098765432", "홍길동", "", "2026-12-10T21:05:09+09:00",
                         std::to_string(100000 + i),   "",       ""};
        std::size_t target = static_cast<std::size_t>(length(rng));
        std::size_t fixed = 0;
        for (const auto& f : fields)
            fixed += f.size() + 1;
        std::string text;
        while (fixed + text.size() < target)
            text += syllables[pick(rng)];
        fields[2] = text;
        out.push_back(std::move(fields));
    }
    return out;
}

std::string encodeAll(const std::vector<FieldList>& messages) {
    std::string out;
    for (const auto& m : messages)
        ChatProtocol::encodeTypeInto(out, MessageType::Chat, m);
    return out;
}

// Best of `repeats`; `prepare` runs untimed before each timed `body`.
template <typename P, typename F> double bestSeconds(int repeats, P&& prepare, F&& body) {
    double best = 1e30;
    for (int i = 0; i < repeats; ++i) {
        prepare();
        const auto start = Clock::now();
        body();
        best = std::min(best, std::chrono::duration<double>(Clock::now() - start).count());
    }
    return best;
}

double splitSeconds(const std::string& stream, int repeats) {
    std::string buffer;
    return bestSeconds(
        repeats, [&] { buffer = stream; },
        [&] {
            std::size_t fields = 0;
            ChatProtocol::consumeBuffer(
                buffer, [&](std::uint8_t, const FieldList& f) { fields += f.size(); });
            sink = fields;
        });
}

double memcpySeconds(const std::string& stream, int repeats) {
    std::string target(stream.size(), '\0');
    return bestSeconds(
        repeats, [] {},
        [&] {
            std::memcpy(&target[0], stream.data(), stream.size());
            sink = static_cast<unsigned char>(target[target.size() / 2]);
        });
}

} // namespace

int main() {
    const auto messages = makeMessages(200000);
    const std::string stream = encodeAll(messages);
    const double mib = stream.size() / (1024.0 * 1024.0);
    std::printf("stream: %zu frames, %.1f MiB, %.0f bytes per frame\n", messages.size(), mib,
                double(stream.size()) / messages.size());

    const double tMemcpy = memcpySeconds(stream, 15);
    const double tSplit = splitSeconds(stream, 15);
    std::printf("split:  %8.0f MiB/s   memcpy: %8.0f MiB/s   ratio split/memcpy = 1/%.1f\n",
                mib / tSplit, mib / tMemcpy, tSplit / tMemcpy);

    const double tEncode = bestSeconds(
        15, [] {},
        [&] {
            std::string out;
            out.reserve(stream.size());
            for (const auto& m : messages)
                ChatProtocol::encodeTypeInto(out, MessageType::Chat, m);
            sink = out.size();
        });
    std::printf("encode: %8.0f MiB/s   ratio encode/memcpy = 1/%.1f\n", mib / tEncode,
                tEncode / tMemcpy);

    // Linearity: one buffer holding many frames must cost the same per frame.
    const auto small = makeMessages(10000);
    const std::string smallStream = encodeAll(small);
    std::string bigStream;
    bigStream.reserve(smallStream.size() * 100);
    for (int i = 0; i < 100; ++i)
        bigStream += smallStream;
    const double perSmall = splitSeconds(smallStream, 30) / 10000.0;
    const double perBig = splitSeconds(bigStream, 3) / 1000000.0;
    std::printf("per frame: %.1f ns at 10,000 frames, %.1f ns at 1,000,000 frames, ratio %.2f\n",
                perSmall * 1e9, perBig * 1e9, perBig / perSmall);
    return 0;
}
