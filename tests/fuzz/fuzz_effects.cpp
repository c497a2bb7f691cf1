// Drives every built-in effect through its whole lifecycle with a wave format, parameter
// values and a block taken from the fuzzer's input.
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <vector>

#include "fuzz_input.h"

#include "effects/effect_registry.h"

using namespace qm;

namespace {}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    FuzzInput in(data, size);
    const auto& effects = EffectRegistry::Instance().Effects();
    VoiceEffect* effect = effects[in.Take<uint8_t>() % effects.size()];

    WaveFormat format;
    format.formatTag = in.Take<uint16_t>();
    // Mostly plausible formats, so the engines run; sometimes anything at all.
    const uint8_t shape = in.Take<uint8_t>();
    if (shape & 1) {
        format.channels = in.Take<uint16_t>();
        format.samplesPerSec = in.Take<uint32_t>();
        format.bitsPerSample = in.Take<uint16_t>();
    } else {
        static const uint32_t kRates[] = {8000, 11025, 16000, 22050, 44100, 48000};
        static const uint16_t kBits[] = {8, 16, 32, 24};
        format.channels = static_cast<uint16_t>(1 + in.Take<uint8_t>() % 3);
        format.samplesPerSec = kRates[in.Take<uint8_t>() % 6];
        format.bitsPerSample = kBits[in.Take<uint8_t>() % 4];
    }

    EffectParam* params[3] = {};
    uint32_t count = 3;
    effect->GetParams(params, &count);
    for (uint32_t i = 0; i < count; ++i) {
        const int32_t raw = in.Take<int32_t>();
        // Half the time within range (the dialog's values), half anything SetValue takes.
        params[i]->SetValue(shape & 2 ? raw : (params[i]->InRange(raw % 100) ? raw % 100 : 0));
    }

    const uint32_t blockBytes = effect->GetBlockSize(&format);
    if (blockBytes > (1u << 22) || effect->Prepare(&format) == 0) {
        effect->Release();
        effect->Reset();
        return 0;
    }
    // Whole blocks mostly; sometimes a short or long count, which must be refused or kept
    // inside the buffer.
    uint32_t byteCount = blockBytes;
    if (shape & 4)
        byteCount = in.Take<uint32_t>() % (2 * blockBytes + 1);
    std::vector<uint8_t> block(byteCount);
    // Sometimes the blocks arrive with another format than the prepared one (a renegotiated
    // stream), or a later GetBlockSize changes the stored frame length: the effect must refuse
    // or stay inside the block.
    WaveFormat blockFormat = format;
    const uint8_t twist = in.Take<uint8_t>();
    if (twist & 1) {
        blockFormat.samplesPerSec = in.Take<uint16_t>() * 8u;
        blockFormat.channels = static_cast<uint16_t>(in.Take<uint8_t>() % 10);
        blockFormat.bitsPerSample = static_cast<uint16_t>(8 * (in.Take<uint8_t>() % 5));
    }
    if (twist & 2) {
        effect->GetBlockSize(&blockFormat);
    }
    if (twist & 4) {
        effect->Prepare(&format);  // again, without Release
    }
    for (int round = 0; round < 3; ++round) {
        const size_t n = in.RestSize() < block.size() ? in.RestSize() : block.size();
        if (n > 0)
            std::memcpy(block.data(), in.Rest(), n);
        effect->Process(&blockFormat, block.data(), &byteCount);
        if (round == 1)
            effect->Reset();
    }
    effect->Release();
    effect->Reset();
    return 0;
}
