#pragma once

#include <atomic>
#include <cstdint>
#include <vector>

#include "effects/voice_effect.h"

// A stand-in effect whose output is easy to predict: it adds `delta` to every byte of a block.
// It checks the lifecycle it is driven through and counts what happened.
class AddEffect : public VoiceEffect {
  public:
    explicit AddEffect(uint32_t blockBytes, uint8_t delta = 1)
        : blockBytes_(blockBytes), delta_(delta) {}

    uint32_t GetBlockSize(const WaveFormat* format) override {
        lastRate = format->samplesPerSec;
        return blockBytes_;
    }
    int Prepare(const WaveFormat*) override {
        if (inProcess)
            ++misuse;
        ++prepares;
        prepared = prepareResult;
        return prepareResult;
    }
    void Release() override {
        if (inProcess)
            ++misuse;
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
        // Refuses every refuseEvery-th block, leaving it untouched as effects do.
        int result = 0;
        if (refuseEvery == 0 || blocks % refuseEvery != 0) {
            for (uint32_t i = 0; i < *byteCount; ++i)
                data[i] = static_cast<uint8_t>(data[i] + delta_);
            result = 1;
        }
        // Released or re-prepared while this block ran?
        if (prepared == 0)
            ++misuse;
        inProcess = false;
        return result;
    }

    int prepareResult = 1;
    uint32_t refuseEvery = 0;
    uint32_t lastRate = 0;
    bool keepLastInput = false;
    std::vector<uint8_t> lastInput;
    std::atomic<int> prepared{0};
    std::atomic<bool> inProcess{false};
    std::atomic<uint32_t> prepares{0}, releases{0}, blocks{0}, misuse{0};

  private:
    uint32_t blockBytes_;
    uint8_t delta_;
};
