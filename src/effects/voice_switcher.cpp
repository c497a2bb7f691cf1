#include "effects/voice_switcher.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <utility>

namespace qm {

namespace {

// The cross-fade: long enough that no step is heard, short enough that no half-and-half voice
// is heard either.
constexpr uint32_t kFadeMs = 8;
// The audio side works in pieces of at most this many bytes.
constexpr size_t kPieceBytes = 8192;
// The input kept for the next voice to settle on: twice the longest delay of any voice
// (Male2Female's block and cross-fade, about 0.5 s) with room to spare.
constexpr double kHistorySeconds = 1.0;
// A voice fed on the control side catches up on the audio side with at most this much input
// (a few hops, as long as a control loop's period and a server's delivery); one that waited
// longer has its fade held back until its output has settled instead.
constexpr uint32_t kCatchUpMs = 60;
// How long a worker may take for a block voice's step before its output is due: the block
// engine's step takes a few milliseconds, a busy machine may keep the worker waiting for more.
constexpr uint32_t kWorkerMarginMs = 50;

uint64_t FramesOfMs(const WaveFormat& format, uint32_t ms) {
    return uint64_t{format.samplesPerSec} * ms / 1000 * format.blockAlign;
}

}  // namespace

void VoiceSwitcher::Voice::Transform(std::span<uint8_t> chunk) {
    if (worker != nullptr)
        worker->Transform(chunk);
    else if (effect != nullptr)
        stream.Transform(chunk);
}

uint64_t VoiceSwitcher::Voice::DelayBytes() const {
    return worker != nullptr ? worker->DelayBytes() : effect != nullptr ? stream.DelayBytes() : 0;
}

uint64_t VoiceSwitcher::Voice::RefusedSteps() const {
    return worker != nullptr   ? worker->RefusedSteps()
           : effect != nullptr ? stream.RefusedSteps()
                               : 0;
}

VoiceSwitcher::~VoiceSwitcher() {
    Collect();
    delete pending_.exchange(nullptr);
    delete incoming_;
    delete toRetire_;
}

// Reads input [to - bytes, to) from the audio side's history (silence before the first byte).
// False when it is longer than the history keeps, or when the audio side wrote over it during
// the copy.
bool VoiceSwitcher::CopyHistory(uint64_t to, uint64_t bytes, std::vector<uint8_t>& out) const {
    const size_t capacity = history_.Size();
    if (bytes + kPieceBytes > capacity)
        return false;
    out.assign(static_cast<size_t>(bytes), 0);
    const uint64_t from = to > bytes ? to - bytes : 0;
    size_t at = static_cast<size_t>(bytes - (to - from));
    for (uint64_t p = from; p < to;) {
        const size_t index = static_cast<size_t>(p % capacity);
        const size_t n = static_cast<size_t>(std::min<uint64_t>(to - p, capacity - index));
        std::memcpy(out.data() + at, history_.Data() + index, n);
        at += n;
        p += n;
    }
    // The audio side writes a piece, then counts it: a piece begun at the count read now ends
    // short of the oldest byte copied, or the copy may hold newer input.
    std::atomic_thread_fence(std::memory_order_acquire);
    return kept_.load(std::memory_order_relaxed) + kPieceBytes <= from + capacity;
}

bool VoiceSwitcher::PrepareVoice(Voice& voice) {
    voice.primed = true;
    if (voice.effect == nullptr)
        return true;
    if (!voice.stream.Prepare(*voice.effect, format_))
        return false;
    if (!started_)
        return true;  // the first voice starts with the stream
    const uint64_t frame = format_.blockAlign;
    const uint64_t settle = (2 * voice.stream.DelayBytes() + frame - 1) / frame * frame;
    std::vector<uint8_t> history;
    voice.fedTo = kept_.load(std::memory_order_acquire);
    voice.primed = CopyHistory(voice.fedTo, settle, history);
    if (!voice.primed)
        history.clear();
    if (blocksOnWorker_ && !voice.stream.ByHops()) {
        voice.stream.Release();
        voice.worker = std::make_unique<WorkerStream>();
        return voice.worker->Prepare(*voice.effect, format_, marginBytes_, history);
    }
    voice.stream.Transform(history);
    return true;
}

bool VoiceSwitcher::Start(VoiceEffect* effect, int id, const WaveFormat& format) {
    if (format.bitsPerSample != 16 || format.blockAlign == 0 ||
        !scratch_.Allocate(kPieceBytes / format.blockAlign * format.blockAlign) ||
        !history_.Allocate(static_cast<size_t>(kHistorySeconds * format.avgBytesPerSec) /
                           format.blockAlign * format.blockAlign))
        return false;
    format_ = format;
    fadeBytes_ = FramesOfMs(format, kFadeMs);
    marginBytes_ = FramesOfMs(format, kWorkerMarginMs);
    auto voice = std::make_unique<Voice>();
    voice->effect = effect;
    voice->id = id;
    if (!PrepareVoice(*voice))
        return false;
    current_ = std::move(voice);
    currentId_.store(id, std::memory_order_release);
    started_ = true;
    return true;
}

VoiceSwitcher::Offer VoiceSwitcher::Switch(std::unique_ptr<VoiceEffect> effect, int id) {
    Collect();
    if (!started_)
        return Offer::kRefused;
    if (pending_.load(std::memory_order_acquire) != nullptr)
        return Offer::kBusy;
    auto voice = std::make_unique<Voice>();
    voice->owned = std::move(effect);
    voice->effect = voice->owned.get();
    voice->id = id;
    if (voice->effect != nullptr)
        voice->effect->Reset();
    if (!PrepareVoice(*voice))
        return Offer::kRefused;
    pending_.store(voice.release(), std::memory_order_release);
    return Offer::kQueued;
}

void VoiceSwitcher::Collect() {
    // A voice is released here, on the control side: Release may free memory.
    delete retired_.exchange(nullptr, std::memory_order_acq_rel);
}

uint64_t VoiceSwitcher::AudioDelayBytes() const {
    const Voice* v = incoming_ != nullptr ? incoming_ : current_.get();
    return v == nullptr ? 0 : v->DelayBytes();
}

bool VoiceSwitcher::AudioByHops() const {
    return current_ == nullptr || current_->effect == nullptr || current_->worker != nullptr ||
           current_->stream.ByHops();
}

bool VoiceSwitcher::AudioCaughtUp() const {
    for (const Voice* v : {current_.get(), incoming_}) {
        if (v != nullptr && v->worker != nullptr && !v->worker->CaughtUp())
            return false;
    }
    return true;
}

void VoiceSwitcher::FinishFade() {
    // The old voice leaves through the retired slot, or waits beside it until the control side
    // has emptied it; it is not run meanwhile.
    Voice* old = current_.release();
    if (old->worker != nullptr)
        lateBefore_ += old->worker->LateBytes();
    current_.reset(incoming_);
    incoming_ = nullptr;
    toRetire_ = old;
    switches_.fetch_add(1, std::memory_order_release);
}

// Weighs the two voices frame by frame: the old one alone until the new one is settled, then a
// straight fade between them, then the new one alone.
void VoiceSwitcher::Mix(uint8_t* data, const uint8_t* incoming, size_t bytes) {
    const uint32_t frame = format_.blockAlign;
    for (size_t at = 0; at + 1 < bytes; at += 2) {
        const uint64_t pos = fadeAt_ + at / frame * frame;
        if (pos < warmBytes_)
            continue;
        int16_t a = 0, b = 0;
        std::memcpy(&a, data + at, 2);
        std::memcpy(&b, incoming + at, 2);
        const uint64_t into = pos - warmBytes_;
        const double g = into >= fadeBytes_ ? 1.0 : static_cast<double>(into) / fadeBytes_;
        const auto v = static_cast<int16_t>(std::lround(a + g * (b - a)));
        std::memcpy(data + at, &v, 2);
    }
    fadeAt_ += bytes;
}

// The input goes into the history before the voices change it.
void VoiceSwitcher::Keep(const uint8_t* data, size_t bytes) {
    const size_t capacity = history_.Size();
    const size_t index = static_cast<size_t>(position_ % capacity);
    const size_t first = std::min(bytes, capacity - index);
    std::memcpy(history_.Data() + index, data, first);
    std::memcpy(history_.Data(), data + first, bytes - first);
    position_ += bytes;
    kept_.store(position_, std::memory_order_release);
}

void VoiceSwitcher::RunPiece(uint8_t* data, size_t bytes) {
    Keep(data, bytes);
    if (incoming_ == nullptr) {
        current_->Transform({data, bytes});
        return;
    }
    uint8_t* copy = scratch_.Data();
    std::memcpy(copy, data, bytes);
    current_->Transform({data, bytes});
    incoming_->Transform({copy, bytes});
    Mix(data, copy, bytes);
    if (fadeAt_ >= warmBytes_ + fadeBytes_)
        FinishFade();
}

// Takes the voice waiting in the slot. One fed on the control side up to a moment not long
// ago is fed the input since from the history, and is settled: its fade begins at once.
void VoiceSwitcher::Take() {
    incoming_ = pending_.exchange(nullptr, std::memory_order_acq_rel);
    fadeAt_ = 0;
    warmBytes_ = 0;
    const bool recent = position_ - incoming_->fedTo <= FramesOfMs(format_, kCatchUpMs);
    if (incoming_->effect != nullptr && incoming_->primed && recent) {
        const size_t capacity = history_.Size();
        for (uint64_t p = incoming_->fedTo; p < position_;) {
            const size_t index = static_cast<size_t>(p % capacity);
            const size_t n = static_cast<size_t>(
                std::min<uint64_t>({position_ - p, capacity - index, scratch_.Size()}));
            std::memcpy(scratch_.Data(), history_.Data() + index, n);
            incoming_->Transform({scratch_.Data(), n});
            p += n;
        }
    } else if (incoming_->effect != nullptr) {
        // A fresh engine's first frames still build up (louder, rougher steps than it ever
        // makes later): it is faded in only once twice its delay has passed.
        warmBytes_ = 2 * incoming_->DelayBytes();
    }
    since_.store(position_, std::memory_order_release);
    currentId_.store(incoming_->id, std::memory_order_release);
}

void VoiceSwitcher::Transform(std::span<uint8_t> chunk) {
    if (current_ == nullptr)
        return;
    if (toRetire_ != nullptr && retired_.load(std::memory_order_acquire) == nullptr) {
        retired_.store(toRetire_, std::memory_order_release);
        toRetire_ = nullptr;
    }
    if (incoming_ == nullptr && toRetire_ == nullptr &&
        pending_.load(std::memory_order_acquire) != nullptr)
        Take();
    const size_t piece = scratch_.Size();
    for (size_t at = 0; at < chunk.size(); at += piece) {
        const size_t n = std::min(piece, chunk.size() - at);
        RunPiece(chunk.data() + at, n);
    }
    refused_ = current_->RefusedSteps();
    late_ = lateBefore_ + (current_->worker != nullptr ? current_->worker->LateBytes() : 0);
}

}  // namespace qm
