#pragma once

#include <atomic>
#include <cstdint>
#include <vector>

#include "effects/voice_effect.h"

namespace qm {

// A stand-in effect whose output is easy to predict: it adds `delta` to every byte of a block.
// It counts what happened and every misuse of the lifecycle (a block of the wrong size or to
// an unprepared effect, a Prepare or Release while a block runs).
class AddEffect : public VoiceEffect {
  public:
    explicit AddEffect(uint32_t blockBytes, uint8_t delta = 1)
        : blockBytes_(blockBytes), delta_(delta) {}

    uint32_t GetBlockSize(const WaveFormat*) override { return blockBytes_; }
    int Prepare(const WaveFormat*) override {
        misuse += inProcess ? 1 : 0;
        ++prepares;
        prepared = prepareResult;
        return prepareResult;
    }
    void Release() override {
        misuse += inProcess ? 1 : 0;
        ++releases;
        prepared = 0;
    }
    int GetParams(EffectParam** params, uint32_t* count) override {
        return ListParams({}, params, count);
    }
    int Process(const WaveFormat*, uint8_t* data, const uint32_t* byteCount) override {
        ++blocks;
        inProcess = true;
        if (prepared == 0 || *byteCount != blockBytes_)
            ++misuse;
        if (keepLastInput)
            lastInput.assign(data, data + *byteCount);
        // Every refuseEvery-th block is refused and left untouched, as effects do.
        const bool refused = refuseEvery != 0 && blocks % refuseEvery == 0;
        for (uint32_t i = 0; i < *byteCount && !refused; ++i)
            data[i] = static_cast<uint8_t>(data[i] + delta_);
        if (prepared == 0)  // released or re-prepared while the block ran
            ++misuse;
        inProcess = false;
        return refused ? 0 : 1;
    }

    int prepareResult = 1;
    uint32_t refuseEvery = 0;
    bool keepLastInput = false;
    std::vector<uint8_t> lastInput;
    std::atomic<int> prepared{0};
    std::atomic<bool> inProcess{false};
    std::atomic<uint32_t> prepares{0}, releases{0}, blocks{0}, misuse{0};

  private:
    uint32_t blockBytes_;
    uint8_t delta_;
};

}  // namespace qm
