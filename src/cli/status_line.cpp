#include "cli/status_line.h"

#include <unistd.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <ctime>

#include "cli/audio_file.h"

namespace qm {

namespace {

// The meter spans this much below full scale.
constexpr double kMeterFloorDb = -60.0;
constexpr int kMeterChars = 20;

int64_t NowNs() {
    struct timespec t {};
    clock_gettime(CLOCK_MONOTONIC, &t);
    return static_cast<int64_t>(t.tv_sec) * 1000000000 + t.tv_nsec;
}

}  // namespace

void StatusLine::Start(const WaveFormat&, const AudioFileWriter* out) {
    active_ = isatty(STDERR_FILENO) != 0;
    out_ = out;
}

void StatusLine::Measure(std::span<const uint8_t> pcm16) {
    if (!active_)
        return;
    for (size_t i = 0; i + 1 < pcm16.size(); i += 2) {
        int16_t v = 0;
        std::memcpy(&v, pcm16.data() + i, 2);
        const int magnitude = v < 0 ? -static_cast<int>(v) : v;
        peak_ = std::max(peak_, magnitude);
        clipped_ = clipped_ || magnitude >= 32767;
    }
}

void StatusLine::Show(double elapsedSeconds) {
    const int64_t now = NowNs();
    if (!active_ || now - lastShownNs_ < 250000000)
        return;
    lastShownNs_ = now;
    const double db = peak_ > 0 ? 20.0 * std::log10(peak_ / 32768.0) : -120.0;
    const int filled = static_cast<int>(
        std::clamp((db - kMeterFloorDb) / -kMeterFloorDb * kMeterChars, 0.0, double{kMeterChars}));
    char meter[kMeterChars + 1];
    std::memset(meter, '#', static_cast<size_t>(filled));
    std::memset(meter + filled, '.', static_cast<size_t>(kMeterChars - filled));
    meter[kMeterChars] = '\0';
    const int minutes = static_cast<int>(elapsedSeconds / 60);
    std::fprintf(stderr, "\r\033[K%02d:%04.1f  in %6.1f dBFS [%s]%s", minutes,
                 elapsedSeconds - 60.0 * minutes, std::max(db, -99.9), meter,
                 clipped_ ? " CLIP" : "     ");
    if (voice_ != nullptr)
        std::fprintf(stderr, "  voice %s", voice_);
    if (note_ != nullptr)
        std::fprintf(stderr, "  %s", note_);
    if (out_ != nullptr)
        std::fprintf(stderr, "  out %.1f KB", static_cast<double>(out_->FileBytes()) / 1024.0);
    std::fflush(stderr);
    peak_ = 0;
    clipped_ = false;
}

void StatusLine::Clear() {
    if (active_)
        std::fprintf(stderr, "\r\033[K");
}

ProgressBar::ProgressBar(const char* label) : label_(label), active_(isatty(STDERR_FILENO) != 0) {}

ProgressBar::~ProgressBar() {
    if (active_ && lastShownNs_ != 0)
        std::fprintf(stderr, "\r\033[K");
}

void ProgressBar::Update(double fraction) {
    const int64_t now = NowNs();
    if (!active_ || now - lastShownNs_ < 100000000)
        return;
    lastShownNs_ = now;
    constexpr int kChars = 30;
    const int filled = static_cast<int>(std::clamp(fraction, 0.0, 1.0) * kChars);
    std::fprintf(stderr, "\r\033[K%s [%.*s%*s] %3d%%", label_, filled,
                 "##############################", kChars - filled, "",
                 static_cast<int>(std::clamp(fraction, 0.0, 1.0) * 100.0));
    std::fflush(stderr);
}

}  // namespace qm
