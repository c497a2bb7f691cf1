#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <memory>

namespace qm {

// A ring of 40 fixed blocks that regroups a byte stream arriving in pieces of any length into
// blocks of one size, lets its owner process each full block in place, and hands the processed
// bytes back out in pieces of any length. The reader starts `gap` blocks behind the writer, so
// the processed stream is the input delayed by gap blocks, beginning with silence.
//
// Positions, going forward from the read position (every position only moves forward and wraps
// from block 39 to block 0):
//   read position .. start of process block   processed, may be read
//   process block .. write position           written, not yet processed
//   the process block is complete exactly when the write block is a different block.
// Invariants the owner keeps by writing at most WriteRoom() bytes at a time:
//   - the write block is at most 39 blocks ahead of the read block, so "write block == process
//     block" always means "no complete block", never "40 complete blocks";
//   - no byte is overwritten before it has been read.
// A writer that ignores WriteRoom() overwrites unread audio but never touches memory outside
// the 40 buffers.
//
// Threads: no lock inside. All operations of one ring come from one thread at a time (the
// owner serialises them). Storage: all 40 buffers are allocated and zeroed by the constructor;
// no other operation allocates or blocks.
class BlockFifo {
  public:
    static constexpr uint32_t kBlockCount = 40;
    static constexpr uint32_t kMaxBlockBytes = 163840;
    // The largest gap that still leaves the writer a whole block of room while the reader is
    // gap blocks behind: 40 blocks less the gap less the block being read.
    static constexpr uint32_t kMaxGap = kBlockCount - 2;

    BlockFifo();
    BlockFifo(const BlockFifo&) = delete;
    BlockFifo& operator=(const BlockFifo&) = delete;

    // False when the storage could not be allocated; every operation is then a no-op.
    bool Allocated() const { return allocated_; }

    // Lays the ring out afresh for blocks of `blockBytes` with gap = bytesPerSecond / blockBytes
    // + 1 blocks (at most kMaxGap) of `silence` bytes readable at once. Refuses (returns false,
    // layout unchanged) a block size of 0 or above kMaxBlockBytes. Nothing held survives.
    bool Configure(uint32_t blockBytes, uint32_t bytesPerSecond, uint8_t silence = 0);

    // Appends n bytes. A write that ends exactly at the end of a block completes that block.
    void Write(const uint8_t* data, size_t n);

    // The oldest complete block not yet processed, or null when there is none.
    uint8_t* NextCompleteBlock();
    // Marks the block NextCompleteBlock returned as processed.
    void AdvanceProcess();

    // All or nothing: copies n processed bytes and returns n, or returns 0 and leaves both the
    // destination and the read position untouched when fewer than n are processed (or n is 0).
    size_t Read(uint8_t* out, size_t n);

    // How many bytes may be written now without breaking the invariants above.
    size_t WriteRoom() const;
    // Processed bytes ready to be read.
    size_t ProcessedBytes() const;
    // Everything written (or laid out as silence) and not yet read, processed or not.
    size_t UnreadBytes() const;
    // Fills the rest of a partly written block with `silence` so that it becomes complete.
    // Returns the number of bytes added (0 when the write position is at a block start).
    size_t PadWriteBlock(uint8_t silence);

    uint32_t BlockBytes() const { return blockBytes_; }
    uint32_t Gap() const { return gap_; }

  private:
    static uint32_t Next(uint32_t block) { return (block + 1) % kBlockCount; }
    // Blocks from `from` forward to `to`, 0..39.
    static uint32_t Distance(uint32_t from, uint32_t to) {
        return (to + kBlockCount - from) % kBlockCount;
    }

    std::array<std::unique_ptr<uint8_t[]>, kBlockCount> blocks_;
    bool allocated_ = false;
    uint32_t blockBytes_ = 16384;
    uint32_t gap_ = 8;
    uint32_t writeBlock_ = 8;
    uint32_t writeOffset_ = 0;
    uint32_t processBlock_ = 8;
    uint32_t readBlock_ = 0;
    uint32_t readOffset_ = 0;
};

}  // namespace qm
