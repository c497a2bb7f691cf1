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

}  // namespace

VoiceSwitcher::~VoiceSwitcher() {
    Collect();
    delete pending_.exchange(nullptr);
    delete incoming_;
    delete toRetire_;
}

bool VoiceSwitcher::PrepareVoice(Voice& voice) {
    return voice.effect == nullptr || voice.stream.Prepare(*voice.effect, format_);
}

bool VoiceSwitcher::Start(VoiceEffect* effect, int id, const WaveFormat& format) {
    if (format.bitsPerSample != 16 || format.blockAlign == 0 ||
        !scratch_.Allocate(kPieceBytes / format.blockAlign * format.blockAlign))
        return false;
    format_ = format;
    fadeBytes_ = uint64_t{format.samplesPerSec} * kFadeMs / 1000 * format.blockAlign;
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
    return v == nullptr || v->effect == nullptr ? 0 : v->stream.DelayBytes();
}

bool VoiceSwitcher::AudioByHops() const {
    return current_ == nullptr || current_->effect == nullptr || current_->stream.ByHops();
}

void VoiceSwitcher::FinishFade() {
    // The old voice leaves through the retired slot, or waits beside it until the control side
    // has emptied it; it is not run meanwhile.
    Voice* old = current_.release();
    current_.reset(incoming_);
    incoming_ = nullptr;
    toRetire_ = old;
    switches_.fetch_add(1, std::memory_order_release);
}

// Weighs the two voices frame by frame: the old one alone until the new one's first output,
// then a straight fade between them, then the new one alone.
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

void VoiceSwitcher::RunPiece(uint8_t* data, size_t bytes) {
    if (incoming_ == nullptr) {
        if (current_->effect != nullptr)
            current_->stream.Transform({data, bytes});
        return;
    }
    uint8_t* copy = scratch_.Data();
    std::memcpy(copy, data, bytes);
    if (current_->effect != nullptr)
        current_->stream.Transform({data, bytes});
    if (incoming_->effect != nullptr)
        incoming_->stream.Transform({copy, bytes});
    Mix(data, copy, bytes);
    if (fadeAt_ >= warmBytes_ + fadeBytes_)
        FinishFade();
}

void VoiceSwitcher::Transform(std::span<uint8_t> chunk) {
    if (current_ == nullptr)
        return;
    if (toRetire_ != nullptr && retired_.load(std::memory_order_acquire) == nullptr) {
        retired_.store(toRetire_, std::memory_order_release);
        toRetire_ = nullptr;
    }
    if (incoming_ == nullptr && toRetire_ == nullptr &&
        pending_.load(std::memory_order_acquire) != nullptr) {
        incoming_ = pending_.exchange(nullptr, std::memory_order_acq_rel);
        fadeAt_ = 0;
        // A fresh engine's first frames still build up (louder, rougher steps than it ever
        // makes later): it is faded in only once twice its delay has passed.
        warmBytes_ = incoming_->effect == nullptr ? 0 : 2 * incoming_->stream.DelayBytes();
        since_.store(position_, std::memory_order_release);
        currentId_.store(incoming_->id, std::memory_order_release);
    }
    const size_t piece = scratch_.Size();
    for (size_t at = 0; at < chunk.size(); at += piece) {
        const size_t n = std::min(piece, chunk.size() - at);
        RunPiece(chunk.data() + at, n);
    }
    position_ += chunk.size();
    if (current_->effect != nullptr)
        refused_ = current_->stream.RefusedSteps();
}

}  // namespace qm
