// Drives the pitch-and-duration change with rates, factors, widths and samples from the
// fuzzer's input: every code path from the argument checks through pulse marking to the
// overlap-add, and the promise that a buffer is handed out exactly when the result is positive.
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <vector>

#include "dsp/overlap_add.h"

using namespace qm;

namespace {

template <typename T>
T Take(const uint8_t*& data, size_t& size) {
    T value{};
    const size_t n = size < sizeof(T) ? size : sizeof(T);
    std::memcpy(&value, data, n);
    data += n;
    size -= n;
    return value;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const float rate = Take<float>(data, size);
    const float duration = Take<float>(data, size);
    const float pitch = Take<float>(data, size);
    // Mostly 16 bits, so that the input reaches the analysis; now and then any width.
    const int32_t bits = Take<uint8_t>(data, size) < 240 ? 16 : Take<int32_t>(data, size);
    const size_t samples = size / 2 > 8000 ? 8000 : size / 2;
    std::vector<int16_t> pcm(samples);
    if (samples > 0)
        std::memcpy(pcm.data(), data, samples * 2);
    // Rates far below a speech rate stretch 8000 samples over hours of 5 ms frames: valid but
    // slow, so they are kept to the range a capture device delivers.
    if (std::isfinite(rate) && rate > 0.0f && (rate < 2000.0f || rate > 400000.0f))
        return 0;
    int16_t* out = nullptr;
    const int32_t bytes = ChangePitchDurationPcm16(pcm.data(), static_cast<int32_t>(2 * samples),
                                                   &out, rate, duration, pitch, bits);
    if ((bytes > 0) != (out != nullptr) || (bytes > 0 && bytes % 2 != 0) ||
        bytes < kPitchDurationTooLong)
        __builtin_trap();
    // At most twice the input comes back.
    if (bytes > static_cast<int32_t>(4 * samples))
        __builtin_trap();
    delete[] out;
    return 0;
}
