#include "soundserver/spsc_ring.h"

#include <gtest/gtest.h>

#include <atomic>
#include <random>
#include <thread>
#include <vector>

using namespace qm;

namespace {

// The byte at stream position i: a period (251) prime to every capacity, so a wrap that lands
// on the wrong position shows.
uint8_t StreamByte(uint64_t i) {
    return static_cast<uint8_t>(i % 251);
}

// A writer and a reader on two threads, each taking random piece sizes, against the model of a
// plain byte sequence: every byte the writer got in arrives once, in order; what did not fit is
// what the writer was told did not fit.
TEST(SpscRing, CarriesAStreamBetweenTwoThreadsInOrder) {
    SpscRing ring(1000);
    ASSERT_EQ(ring.Capacity(), 1024u);
    constexpr uint64_t kTotal = 2000000;
    std::vector<uint64_t> accepted;  // stream positions the writer got into the ring, as runs
    std::atomic<bool> writerDone{false};
    std::thread writer([&] {
        std::mt19937 random(1);
        std::vector<uint8_t> piece(700);
        uint64_t offered = 0;
        while (offered < kTotal) {
            const size_t n = random() % piece.size();
            for (size_t i = 0; i < n; ++i)
                piece[i] = StreamByte(offered + i);
            // The ring takes a prefix; the rest is lost, as in the capture callback. Every
            // other piece is offered until it fits, so that most of the stream goes through.
            size_t stored = ring.Write({piece.data(), n});
            while (accepted.size() % 4 == 0 && stored < n) {
                std::this_thread::yield();
                stored += ring.Write({piece.data() + stored, n - stored});
            }
            accepted.push_back(offered);
            accepted.push_back(offered + stored);
            offered += n;
        }
        writerDone.store(true);
    });
    std::mt19937 random(2);
    std::vector<uint8_t> got;
    std::vector<uint8_t> piece(900);
    for (;;) {
        const bool finished = writerDone.load();
        const size_t n = ring.Read({piece.data(), random() % piece.size()});
        got.insert(got.end(), piece.begin(), piece.begin() + static_cast<long>(n));
        if (finished && ring.Readable() == 0)
            break;
    }
    writer.join();
    std::vector<uint8_t> expected;
    for (size_t r = 0; r < accepted.size(); r += 2) {
        for (uint64_t i = accepted[r]; i < accepted[r + 1]; ++i)
            expected.push_back(StreamByte(i));
    }
    ASSERT_EQ(got.size(), expected.size());
    EXPECT_EQ(got, expected);
    EXPECT_GT(got.size(), kTotal / 3);
}

TEST(SpscRing, FullRingTakesOnlyWhatFitsAndDiscardFreesRoom) {
    SpscRing ring(8);
    EXPECT_EQ(ring.Fill(0x80, 5), 5u);
    const std::vector<uint8_t> data = {1, 2, 3, 4, 5};
    EXPECT_EQ(ring.Write(data), 3u);
    EXPECT_EQ(ring.Discard(6), 6u);
    EXPECT_EQ(ring.Write(data), 5u);  // wraps
    std::vector<uint8_t> out(10, 0xEE);
    ASSERT_EQ(ring.Peek(std::span(out).first(4)), 4u);
    EXPECT_EQ(std::vector<uint8_t>(out.begin(), out.begin() + 4),
              (std::vector<uint8_t>{2, 3, 1, 2}));  // across the wrap, and still there:
    ASSERT_EQ(ring.Read(out), 7u);
    EXPECT_EQ(std::vector<uint8_t>(out.begin(), out.begin() + 7),
              (std::vector<uint8_t>{2, 3, 1, 2, 3, 4, 5}));
    EXPECT_EQ(out[7], 0xEE);
}

}  // namespace
