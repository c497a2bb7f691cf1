#include "filter/block_fifo.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <memory>
#include <random>
#include <vector>

namespace {

// Processing marks every byte so that a read of unprocessed data shows.
constexpr uint8_t kMark = 0xA5;

struct Layout {
    uint32_t blockBytes;
    uint32_t bytesPerSecond;
    uint32_t gap;  // expected, worked out by hand
};

class BlockFifoModel : public ::testing::TestWithParam<Layout> {};

// The ring against a plain byte stream: gap × B zeros, then every written byte, readable up to
// the end of the last processed block. Random write, process and read sizes, including reads of
// exactly what is processed and of one byte more.
TEST_P(BlockFifoModel, MatchesAPlainQueueWithALeadIn) {
    const Layout layout = GetParam();
    const size_t b = layout.blockBytes;
    auto fifo = std::make_unique<BlockFifo>();
    ASSERT_TRUE(fifo->Allocated());
    ASSERT_TRUE(fifo->Configure(layout.blockBytes, layout.bytesPerSecond));
    ASSERT_EQ(fifo->Gap(), layout.gap);
    const size_t leadIn = size_t{layout.gap} * b;

    std::mt19937 rng(layout.blockBytes * 31 + layout.bytesPerSecond);
    std::vector<uint8_t> written;
    size_t processedBlocks = 0;
    size_t readCount = 0;
    auto expectedAt = [&](size_t i) {
        return i < leadIn ? uint8_t{0} : static_cast<uint8_t>(written[i - leadIn] ^ kMark);
    };
    auto pick = [&](size_t hi) { return std::uniform_int_distribution<size_t>(0, hi)(rng); };

    const size_t traffic = std::max<size_t>(3 * 40 * b, 20000);
    while (written.size() < traffic) {
        // Linear positions: the writer is leadIn + written ahead of the stream's start, and may
        // go up to the last byte before the block 40 ahead of the read block.
        const size_t writePos = leadIn + written.size();
        const size_t modelRoom = (readCount / b + 40) * b - 1 - writePos;
        ASSERT_EQ(fifo->WriteRoom(), modelRoom);
        ASSERT_EQ(fifo->UnreadBytes(), writePos - readCount);
        const size_t readable = leadIn + processedBlocks * b - readCount;
        ASSERT_EQ(fifo->ProcessedBytes(), readable);

        switch (pick(2)) {
            case 0: {
                std::vector<uint8_t> piece(pick(std::min(modelRoom, 3 * b + 5)));
                for (uint8_t& x : piece)
                    x = static_cast<uint8_t>(rng());
                fifo->Write(piece.data(), piece.size());
                written.insert(written.end(), piece.begin(), piece.end());
                break;
            }
            case 1: {
                for (size_t k = pick(3); k > 0; --k) {
                    uint8_t* block = fifo->NextCompleteBlock();
                    const bool complete = (processedBlocks + 1) * b <= written.size();
                    ASSERT_EQ(block != nullptr, complete);
                    if (!complete)
                        break;
                    ASSERT_TRUE(
                        std::equal(block, block + b, written.begin() + processedBlocks * b));
                    for (size_t i = 0; i < b; ++i)
                        block[i] ^= kMark;
                    fifo->AdvanceProcess();
                    ++processedBlocks;
                }
                break;
            }
            default: {
                const size_t choice = pick(3);
                const size_t n = choice == 0   ? readable
                                 : choice == 1 ? readable + 1
                                               : pick(3 * b + 5);
                std::vector<uint8_t> out(n + 1, 0xEE);  // one guard byte past the request
                const size_t got = fifo->Read(out.data(), n);
                if (n == 0 || n > readable) {
                    ASSERT_EQ(got, 0u);
                    ASSERT_TRUE(
                        std::all_of(out.begin(), out.end(), [](uint8_t x) { return x == 0xEE; }));
                    break;
                }
                ASSERT_EQ(got, n);
                for (size_t i = 0; i < n; ++i)
                    ASSERT_EQ(out[i], expectedAt(readCount + i)) << "stream byte " << readCount + i;
                ASSERT_EQ(out[n], 0xEE);
                readCount += n;
                break;
            }
        }
    }
}

INSTANTIATE_TEST_SUITE_P(Layouts, BlockFifoModel,
                         ::testing::Values(Layout{1, 0, 1}, Layout{1, 1000, 38}, Layout{7, 30, 5},
                                           Layout{512, 16000, 32}, Layout{4096, 88200, 22},
                                           Layout{16384, 88200, 6}, Layout{2048, 88200, 38},
                                           Layout{163840, 0, 1}, Layout{163840, 6000000, 37}));

// The lead-in is readable at once and is exactly gap × B silent bytes; one byte more is not
// there until a block has been written and processed.
TEST(BlockFifo, LeadInIsGapBlocksOfSilence) {
    struct Row {
        uint32_t blockBytes, bytesPerSecond, gap;
        uint8_t silence;
    };
    auto fifo = std::make_unique<BlockFifo>();
    for (const Row row : {Row{4096, 88200, 22, 0x00}, Row{16384, 88200, 6, 0x00},
                          Row{256, 8000, 32, 0x80}, Row{2048, 88200, 38, 0x00}}) {
        ASSERT_TRUE(fifo->Configure(row.blockBytes, row.bytesPerSecond, row.silence));
        EXPECT_EQ(fifo->Gap(), row.gap);
        const size_t leadIn = size_t{row.gap} * row.blockBytes;
        std::vector<uint8_t> out(leadIn + 1, 0x11);
        EXPECT_EQ(fifo->Read(out.data(), leadIn + 1), 0u);
        EXPECT_EQ(fifo->Read(out.data(), leadIn), leadIn);
        EXPECT_TRUE(
            std::all_of(out.begin(), out.end() - 1, [&](uint8_t x) { return x == row.silence; }));
        EXPECT_EQ(fifo->Read(out.data(), 1), 0u);
    }
}

// A block counts as complete exactly when its last byte is written.
TEST(BlockFifo, BlockCompletesOnItsLastByte) {
    auto fifo = std::make_unique<BlockFifo>();
    ASSERT_TRUE(fifo->Configure(64, 0));
    std::vector<uint8_t> data(64, 7);
    fifo->Write(data.data(), 63);
    EXPECT_EQ(fifo->NextCompleteBlock(), nullptr);
    fifo->Write(data.data(), 1);
    ASSERT_NE(fifo->NextCompleteBlock(), nullptr);
    EXPECT_EQ(fifo->NextCompleteBlock()[63], 7);
}

// Until the first Configure the ring has 16384-byte blocks and reads eight of them as silence.
TEST(BlockFifo, ConstructedLayout) {
    auto fifo = std::make_unique<BlockFifo>();
    EXPECT_EQ(fifo->BlockBytes(), 16384u);
    EXPECT_EQ(fifo->Gap(), 8u);
    EXPECT_EQ(fifo->ProcessedBytes(), 8u * 16384);
    EXPECT_EQ(fifo->NextCompleteBlock(), nullptr);
}

// Sizes the ring cannot hold are refused and the layout, with whatever it held, stays.
TEST(BlockFifo, RefusesUnusableBlockSizes) {
    auto fifo = std::make_unique<BlockFifo>();
    ASSERT_TRUE(fifo->Configure(100, 250));
    const uint8_t one = 9;
    fifo->Write(&one, 1);
    for (uint32_t bad : {0u, BlockFifo::kMaxBlockBytes + 1, 0xFFFFFFFFu}) {
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
