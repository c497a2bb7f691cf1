#include "filter/block_fifo.h"

#include <algorithm>
#include <cstring>
#include <new>

namespace qm {

BlockFifo::BlockFifo() {
    allocated_ = true;
    for (auto& block : blocks_) {
        block.reset(new (std::nothrow) uint8_t[kMaxBlockBytes]());
        allocated_ = allocated_ && block != nullptr;
    }
}

bool BlockFifo::Configure(uint32_t blockBytes, uint32_t bytesPerSecond, uint8_t silence) {
    if (!allocated_ || blockBytes == 0 || blockBytes > kMaxBlockBytes)
        return false;
    gap_ = std::min(bytesPerSecond / blockBytes + 1, kMaxGap);
    blockBytes_ = blockBytes;
    writeBlock_ = processBlock_ = gap_;
    writeOffset_ = 0;
    readBlock_ = 0;
    readOffset_ = 0;
    for (auto& block : blocks_)
        std::memset(block.get(), silence, blockBytes_);
    return true;
}

void BlockFifo::Write(const uint8_t* data, size_t n) {
    if (!allocated_ || data == nullptr)
        return;
    while (n > 0) {
        const size_t room = blockBytes_ - writeOffset_;
        if (room > n) {
            std::memcpy(blocks_[writeBlock_].get() + writeOffset_, data, n);
            writeOffset_ += static_cast<uint32_t>(n);
            return;
        }
        std::memcpy(blocks_[writeBlock_].get() + writeOffset_, data, room);
        data += room;
        n -= room;
        writeBlock_ = Next(writeBlock_);
        writeOffset_ = 0;
    }
}

uint8_t* BlockFifo::NextCompleteBlock() {
    if (!allocated_ || processBlock_ == writeBlock_)
        return nullptr;
    return blocks_[processBlock_].get();
}

void BlockFifo::AdvanceProcess() {
    processBlock_ = Next(processBlock_);
}

size_t BlockFifo::ProcessedBytes() const {
    if (readBlock_ == processBlock_)
        return 0;
    return size_t{Distance(readBlock_, processBlock_)} * blockBytes_ - readOffset_;
}

size_t BlockFifo::UnreadBytes() const {
    return size_t{Distance(readBlock_, writeBlock_)} * blockBytes_ + writeOffset_ - readOffset_;
}

size_t BlockFifo::WriteRoom() const {
    // The write may run up to, but not into, the block 40 ahead of the read block: ending on
    // its first byte would make the write block the read block again.
    const size_t ahead = size_t{Distance(readBlock_, writeBlock_)} * blockBytes_ + writeOffset_;
    return size_t{kBlockCount} * blockBytes_ - 1 - ahead;
}

size_t BlockFifo::Read(uint8_t* out, size_t n) {
    if (!allocated_ || out == nullptr || n == 0 || ProcessedBytes() < n)
        return 0;
    size_t done = 0;
    while (done < n) {
        const size_t take = std::min<size_t>(blockBytes_ - readOffset_, n - done);
        std::memcpy(out + done, blocks_[readBlock_].get() + readOffset_, take);
        done += take;
        readOffset_ += static_cast<uint32_t>(take);
        if (readOffset_ == blockBytes_) {
            readBlock_ = Next(readBlock_);
            readOffset_ = 0;
        }
    }
    return n;
}

size_t BlockFifo::PadWriteBlock(uint8_t silence) {
    if (!allocated_ || writeOffset_ == 0)
        return 0;
    const size_t pad = blockBytes_ - writeOffset_;
    std::memset(blocks_[writeBlock_].get() + writeOffset_, silence, pad);
    writeBlock_ = Next(writeBlock_);
    writeOffset_ = 0;
    return pad;
}

}  // namespace qm
