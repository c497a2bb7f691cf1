// The recorder's elapsed-time rule, with no window types: whole seconds since the start tick,
// reduced modulo 65536 as the display has always counted, split into hours, minutes and
// seconds. Tick arithmetic is unsigned 32-bit, so a tick count that wraps between start and
// now still gives the true difference.
#pragma once

#include <cstdint>
#include <cstdio>

namespace qm::ui {

struct ElapsedTime {
    uint32_t hours = 0;
    uint32_t minutes = 0;
    uint32_t seconds = 0;
};

inline constexpr uint32_t kRecordingLimitHours = 4;

inline ElapsedTime ElapsedBetween(uint32_t startTick, uint32_t nowTick) {
    const uint32_t s = ((nowTick - startTick) / 1000u) % 65536u;
    return {s / 3600u, (s / 60u) % 60u, s % 60u};
}

// "hh:mm:ss" into `text` (at least 9 characters).
inline void FormatElapsed(const ElapsedTime& t, char* text, std::size_t size) {
    std::snprintf(text, size, "%02u:%02u:%02u", static_cast<unsigned>(t.hours),
                  static_cast<unsigned>(t.minutes), static_cast<unsigned>(t.seconds));
}

}  // namespace qm::ui
