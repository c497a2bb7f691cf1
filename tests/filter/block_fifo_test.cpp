#include "filter/block_fifo.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <memory>
#include <random>
#include <vector>

using namespace qm;

namespace {

// Processing marks every byte so that a read of unprocessed data shows.
constexpr uint8_t kMark = 0xA5;

struct Layout {
    uint32_t blockBytes;
    uint32_t bytesPerSecond;
    uint32_t gap;  // expected, worked out by hand
    uint8_t silence;
};

class BlockFifoModel : public ::testing::TestWithParam<Layout> {};

// The ring against a plain byte queue: gap × B silent bytes, then every written byte, readable
// up to the end of the last processed block. Random write, process and read sizes, including
// reads of exactly what is processed and of one byte more (refused, destination untouched).
TEST_P(BlockFifoModel, MatchesAPlainQueueWithALeadIn) {
    const Layout layout = GetParam();
    const size_t b = layout.blockBytes;
    auto fifo = std::make_unique<BlockFifo>();
    ASSERT_TRUE(fifo->Allocated());
    ASSERT_TRUE(fifo->Configure(layout.blockBytes, layout.bytesPerSecond, layout.silence));
    ASSERT_EQ(fifo->Gap(), layout.gap);
    const size_t leadIn = size_t{layout.gap} * b;

    std::mt19937 rng(layout.blockBytes * 31 + layout.bytesPerSecond);
    auto pick = [&](size_t hi) { return std::uniform_int_distribution<size_t>(0, hi)(rng); };
    std::vector<uint8_t> queue(leadIn, layout.silence);  // the model: the whole stream
    size_t processedBlocks = 0;
    size_t readCount = 0;
    while (queue.size() < leadIn + std::max<size_t>(3 * 40 * b, 20000)) {
        // The writer may go up to the last byte before the block 40 ahead of the read block.
        const size_t room = (readCount / b + 40) * b - 1 - queue.size();
        const size_t readable = leadIn + processedBlocks * b - readCount;
        ASSERT_EQ(fifo->WriteRoom(), room);
        ASSERT_EQ(fifo->UnreadBytes(), queue.size() - readCount);
        ASSERT_EQ(fifo->ProcessedBytes(), readable);
        const size_t action = pick(2);
        if (action == 0) {
            std::vector<uint8_t> piece(pick(std::min(room, 3 * b + 5)));
            for (uint8_t& x : piece)
                x = static_cast<uint8_t>(rng());
            fifo->Write(piece.data(), piece.size());
            queue.insert(queue.end(), piece.begin(), piece.end());
        } else if (action == 1) {
            for (size_t k = pick(3); k > 0; --k) {
                uint8_t* block = fifo->NextCompleteBlock();
                const size_t start = leadIn + processedBlocks * b;
                // Complete exactly when its last byte has been written.
                ASSERT_EQ(block != nullptr, start + b <= queue.size());
                if (block == nullptr)
                    break;
                ASSERT_TRUE(std::equal(block, block + b, queue.begin() + start));
                for (size_t i = 0; i < b; ++i)
                    queue[start + i] = block[i] ^= kMark;
                fifo->AdvanceProcess();
                ++processedBlocks;
            }
        } else {
            const size_t choice = pick(3);
            const size_t n = choice == 0 ? readable : choice == 1 ? readable + 1 : pick(3 * b + 5);
            std::vector<uint8_t> out(n + 1, 0xEE);  // one guard byte past the request
            const size_t got = fifo->Read(out.data(), n);
            const bool refused = n == 0 || n > readable;
            ASSERT_EQ(got, refused ? 0 : n);
            const auto from = queue.begin() + readCount;
            ASSERT_TRUE(refused ? std::count(out.begin(), out.end(), 0xEE) == std::ssize(out)
                                : std::equal(out.begin(), out.end() - 1, from) && out[n] == 0xEE)
                << "stream byte " << readCount;
            readCount += got;
        }
    }
}

INSTANTIATE_TEST_SUITE_P(Layouts, BlockFifoModel,
                         ::testing::Values(Layout{1, 0, 1, 0}, Layout{1, 1000, 38, 0},
                                           Layout{7, 30, 5, 0}, Layout{256, 8000, 32, 0x80},
                                           Layout{512, 16000, 32, 0}, Layout{4096, 88200, 22, 0},
                                           Layout{16384, 88200, 6, 0}, Layout{2048, 88200, 38, 0},
                                           Layout{163840, 0, 1, 0x80},
                                           Layout{163840, 6000000, 37, 0}));

// Sizes the ring cannot hold are refused and the layout, with whatever it held, stays. The
// largest block is 160 KiB: the limit is written out, not taken from the ring's own constant.
TEST(BlockFifo, RefusesUnusableBlockSizes) {
    auto fifo = std::make_unique<BlockFifo>();
    ASSERT_TRUE(fifo->Configure(100, 250));
    const uint8_t one = 9;
    fifo->Write(&one, 1);
    for (uint32_t bad : {0u, 163841u, 0xFFFFFFFFu}) {
        EXPECT_FALSE(fifo->Configure(bad, 88200));
        EXPECT_EQ(fifo->BlockBytes(), 100u);
        EXPECT_EQ(fifo->Gap(), 3u);
        EXPECT_EQ(fifo->UnreadBytes(), 301u);
    }
}

TEST(BlockFifo, PadCompletesAPartlyWrittenBlockOnly) {
    auto fifo = std::make_unique<BlockFifo>();
    ASSERT_TRUE(fifo->Configure(8, 0));
    EXPECT_EQ(fifo->PadWriteBlock(0x80), 0u);
    const uint8_t data[3] = {1, 2, 3};
    fifo->Write(data, 3);
    EXPECT_EQ(fifo->PadWriteBlock(0x80), 5u);
    const uint8_t* block = fifo->NextCompleteBlock();
    ASSERT_NE(block, nullptr);
    const std::vector<uint8_t> expected = {1, 2, 3, 0x80, 0x80, 0x80, 0x80, 0x80};
    EXPECT_EQ(std::vector<uint8_t>(block, block + 8), expected);
}

}  // namespace
