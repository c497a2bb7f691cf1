// Drives the effect stage with formats, selections, buffers and drains taken from the fuzzer's
// input. Audio that passes must leave unchanged, and the stand-in effects check that every
// block reaches a prepared effect with the effect's own block size.
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <vector>

#include "fuzz_input.h"

#include "../filter/test_effect.h"
#include "filter/effect_stage.h"

using namespace qm;

namespace {

constexpr uint32_t kBlockSizes[] = {0,    1,     3,      100,    256,        2048,
                                    4096, 16384, 163840, 163841, 0x80000000, 0xFFFFFFFF};
constexpr size_t kDoubles = sizeof(kBlockSizes) / sizeof(kBlockSizes[0]);

struct World {
    EffectStage stage;
    std::vector<std::unique_ptr<AddEffect>> doubles;
    std::vector<uint8_t> buffer = std::vector<uint8_t>(400000);
    std::vector<uint8_t> copy = std::vector<uint8_t>(400000);
    World() {
        for (uint32_t b : kBlockSizes)
            doubles.push_back(std::make_unique<AddEffect>(b));
    }
};

World& TheWorld() {
    static World world;
    return world;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    World& w = TheWorld();
    FuzzInput in(data, size);
    w.stage.SetEffect(nullptr);
    for (int op = 0; op < 64 && !in.Empty(); ++op) {
        switch (in.Take<uint8_t>() % 6) {
            case 0: {
                uint8_t block[24];
                const size_t length = in.Take<uint8_t>() % (sizeof block + 1);
                for (size_t i = 0; i < length; ++i)
                    block[i] = in.Take<uint8_t>();
                const bool wave = in.Take<uint8_t>() % 8 != 0;
                const EffectGuid other = {1, 2, 3, {4, 5, 6, 7, 8, 9, 10, 11}};
                w.stage.SetFormat(wave ? kWaveFormatType : other, block, length);
                break;
            }
            case 1: {
                // Plausible formats most of the time, so that audio goes through the ring.
                static const uint32_t kRates[] = {8000, 11025, 22050, 44100, 48000};
                const uint8_t pick = in.Take<uint8_t>();
                WaveFormat f;
                f.formatTag = 1;
                f.channels = static_cast<uint16_t>(1 + pick % 2);
                f.samplesPerSec = kRates[(pick / 2) % 5];
                f.bitsPerSample = (pick & 0x80) ? 8 : 16;
                const auto bytes = WaveFormatToBytes(f);
                w.stage.SetFormat(kWaveFormatType, bytes.data(), bytes.size());
                break;
            }
            case 2:
                w.stage.SelectEffect(in.Take<int8_t>());
                break;
            case 3: {
                AddEffect& fx = *w.doubles[in.Take<uint8_t>() % kDoubles];
                fx.prepareResult = in.Take<uint8_t>() % 4 != 0;
                fx.refuseEvery = in.Take<uint8_t>() % 4;
                w.stage.SetEffect(&fx);
                break;
            }
            case 4: {
                const size_t n = in.Take<uint32_t>() % (w.buffer.size() + 1);
                for (size_t i = 0; i < n; ++i)
                    w.buffer[i] = static_cast<uint8_t>(i * 7 + op);
                std::memcpy(w.copy.data(), w.buffer.data(), n);
                const bool through = w.stage.Transform(std::span<uint8_t>(w.buffer.data(), n));
                if (!through && std::memcmp(w.copy.data(), w.buffer.data(), n) != 0)
                    std::abort();
                break;
            }
            default: {
                const size_t n = in.Take<uint32_t>() % (w.buffer.size() + 1);
                if (w.stage.Drain(std::span<uint8_t>(w.buffer.data(), n)) > n)
                    std::abort();
                break;
            }
        }
    }
    w.stage.SetEffect(nullptr);
    for (const auto& fx : w.doubles) {
        if (fx->misuse != 0)
            std::abort();
    }
    return 0;
}
