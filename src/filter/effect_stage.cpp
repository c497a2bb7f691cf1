#include "filter/effect_stage.h"

#include <algorithm>
#include <limits>

#include "effects/effect_registry.h"

namespace qm {

namespace {

// The recorder's effect numbers 1 to 8, each naming its effect as the effect table does (the
// table alone holds the GUIDs).
constexpr const char* kEffectNameByIndex[] = {
    "Baby",
    "Elder",
    "FemaletoMale",
    "Robot",
    "Male2Female",
    // Numbers the catalogue adds so that every voice can be reached from the window.
    "Monster",
    "Ghost",
    "Strange Voice",
};
constexpr int32_t kIndexCount = 8;

uint32_t LoadLittleEndian(const uint8_t* bytes, size_t length, size_t offset, size_t width) {
    uint32_t value = 0;
    for (size_t i = 0; i < width; ++i) {
        const uint32_t byte = offset + i < length ? bytes[offset + i] : 0;
        value |= byte << (8 * i);
    }
    return value;
}

void StoreLittleEndian(uint8_t* bytes, size_t offset, size_t width, uint32_t value) {
    for (size_t i = 0; i < width; ++i)
        bytes[offset + i] = static_cast<uint8_t>(value >> (8 * i));
}

bool UsableBlockBytes(uint32_t blockBytes) {
    return blockBytes > 0 && blockBytes <= BlockFifo::kMaxBlockBytes;
}

// Bits × rate / 8 of the stream: the FIFO's gap is one second of it in blocks, plus one. The
// channel count does not enter. Saturates instead of wrapping for absurd formats, whose gap
// is capped anyway.
uint32_t GapBytesPerSecond(const WaveFormat& format) {
    const uint64_t bytes = uint64_t{format.bitsPerSample} * format.samplesPerSec / 8;
    return static_cast<uint32_t>(std::min<uint64_t>(bytes, std::numeric_limits<uint32_t>::max()));
}

}  // namespace

WaveFormat WaveFormatFromBytes(const uint8_t* block, size_t length) {
    if (block == nullptr)
        length = 0;
    length = std::min(length, kWaveFormatBytes);
    WaveFormat f;
    f.formatTag = static_cast<uint16_t>(LoadLittleEndian(block, length, 0, 2));
    f.channels = static_cast<uint16_t>(LoadLittleEndian(block, length, 2, 2));
    f.samplesPerSec = LoadLittleEndian(block, length, 4, 4);
    f.avgBytesPerSec = LoadLittleEndian(block, length, 8, 4);
    f.blockAlign = static_cast<uint16_t>(LoadLittleEndian(block, length, 12, 2));
    f.bitsPerSample = static_cast<uint16_t>(LoadLittleEndian(block, length, 14, 2));
    f.extraSize = static_cast<uint16_t>(LoadLittleEndian(block, length, 16, 2));
    return f;
}

std::array<uint8_t, kWaveFormatBytes> WaveFormatToBytes(const WaveFormat& f) {
    std::array<uint8_t, kWaveFormatBytes> bytes{};
    StoreLittleEndian(bytes.data(), 0, 2, f.formatTag);
    StoreLittleEndian(bytes.data(), 2, 2, f.channels);
    StoreLittleEndian(bytes.data(), 4, 4, f.samplesPerSec);
    StoreLittleEndian(bytes.data(), 8, 4, f.avgBytesPerSec);
    StoreLittleEndian(bytes.data(), 12, 2, f.blockAlign);
    StoreLittleEndian(bytes.data(), 14, 2, f.bitsPerSample);
    StoreLittleEndian(bytes.data(), 16, 2, f.extraSize);
    return bytes;
}

VoiceEffect* EffectForRecorderIndex(int32_t index) {
    if (index < 1 || index > kIndexCount)
        return nullptr;
    return EffectRegistry::Instance().FindByName(kEffectNameByIndex[index - 1]);
}

int32_t RecorderIndexOf(const VoiceEffect& effect) {
    for (int32_t index = 1; index <= kIndexCount; ++index) {
        const VoiceEffect* known = EffectForRecorderIndex(index);
        if (known != nullptr && SameGuid(*known->GetGUID(), *effect.GetGUID()))
            return index;
    }
    return 0;
}

EffectStage::EffectStage() = default;

EffectStage::~EffectStage() {
    if (effect_ != nullptr) {
        VoiceEffect* old = effect_;
        effect_ = nullptr;
        old->Release();
    }
}

void EffectStage::SetFormat(const EffectGuid& formatType, const uint8_t* block, size_t length) {
    if (SameGuid(formatType, kWaveFormatType))
        SetFormat(WaveFormatFromBytes(block, length));
}

void EffectStage::SetFormat(const WaveFormat& format) {
    std::lock_guard<std::mutex> hold(lock_);
    format_ = format;
    if (effect_ != nullptr)
        effect_->Release();
    Relayout();
}

void EffectStage::SelectEffect(int32_t index) {
    SetEffect(EffectForRecorderIndex(index));
}

void EffectStage::SetEffect(VoiceEffect* effect) {
    std::lock_guard<std::mutex> hold(lock_);
    if (effect_ != nullptr) {
        VoiceEffect* old = effect_;
        effect_ = nullptr;
        old->Release();
    }
    effect_ = effect;
    Relayout();
}

void EffectStage::Relayout() {
    processing_ = false;
    tail_ = Tail::kStreaming;
    drainLeft_ = 0;
    blockBytes_ = kDefaultBlockBytes;
    bool prepared = false;
    if (effect_ != nullptr) {
        blockBytes_ = effect_->GetBlockSize(&format_);
        // A block the FIFO cannot hold is never handed to the effect, so it is not prepared.
        if (UsableBlockBytes(blockBytes_)) {
            prepared = effect_->Prepare(&format_) != 0;
            // A failed Prepare leaves the effect to free what it did allocate.
            if (!prepared)
                effect_->Release();
        }
    }
    // Until a format with a sample rate arrives the FIFO keeps its layout.
    if (format_.samplesPerSec == 0 || !UsableBlockBytes(blockBytes_))
        return;
    const bool configured = fifo_.Configure(blockBytes_, GapBytesPerSecond(format_), Silence());
    processing_ = effect_ != nullptr && prepared && configured;
}

void EffectStage::ProcessCompleteBlocks() {
    while (uint8_t* block = fifo_.NextCompleteBlock()) {
        // A block the effect refuses keeps its input: it leaves unprocessed but in time.
        const uint32_t count = blockBytes_;
        effect_->Process(&format_, block, &count);
        fifo_.AdvanceProcess();
    }
}

void EffectStage::Restart() {
    fifo_.Configure(blockBytes_, GapBytesPerSecond(format_), Silence());
    drainLeft_ = 0;
}

bool EffectStage::Transform(std::span<uint8_t> buffer) {
    std::lock_guard<std::mutex> hold(lock_);
    if (!processing_)
        return false;
    if (tail_ == Tail::kDraining)
        Restart();
    tail_ = Tail::kStreaming;
    // Pieces that fit the ring: a buffer longer than the room ahead of the reader would
    // overwrite audio not yet read. The room is at least one block while the reader keeps
    // pace, and every piece written is read straight back, so every byte comes out once.
    size_t done = 0;
    while (done < buffer.size()) {
        const size_t piece = std::min(buffer.size() - done, fifo_.WriteRoom());
        if (piece == 0)
            break;
        uint8_t* at = buffer.data() + done;
        fifo_.Write(at, piece);
        ProcessCompleteBlocks();
        if (fifo_.Read(at, piece) != piece)
            break;
        done += piece;
    }
    return true;
}

size_t EffectStage::Drain(std::span<uint8_t> out) {
    std::lock_guard<std::mutex> hold(lock_);
    if (!processing_ || out.empty() || tail_ == Tail::kDrained)
        return 0;
    if (tail_ == Tail::kStreaming) {
        drainLeft_ = fifo_.UnreadBytes();
        fifo_.PadWriteBlock(Silence());
        ProcessCompleteBlocks();
        tail_ = Tail::kDraining;
    }
    const size_t n = std::min(out.size(), drainLeft_);
    fifo_.Read(out.data(), n);
    drainLeft_ -= n;
    if (drainLeft_ == 0) {
        // The next stream starts with a full lead-in again.
        Restart();
        tail_ = Tail::kDrained;
    }
    return n;
}

size_t EffectStage::PendingBytes() const {
    std::lock_guard<std::mutex> hold(lock_);
    if (!processing_)
        return 0;
    switch (tail_) {
        case Tail::kStreaming:
            return fifo_.UnreadBytes();
        case Tail::kDraining:
            return drainLeft_;
        case Tail::kDrained:
            break;
    }
    return 0;
}

bool EffectStage::Processing() const {
    std::lock_guard<std::mutex> hold(lock_);
    return processing_;
}

uint32_t EffectStage::BlockBytes() const {
    std::lock_guard<std::mutex> hold(lock_);
    return blockBytes_;
}

uint32_t EffectStage::Gap() const {
    std::lock_guard<std::mutex> hold(lock_);
    return fifo_.Gap();
}

VoiceEffect* EffectStage::CurrentEffect() const {
    std::lock_guard<std::mutex> hold(lock_);
    return effect_;
}

WaveFormat EffectStage::Format() const {
    std::lock_guard<std::mutex> hold(lock_);
    return format_;
}

}  // namespace qm
