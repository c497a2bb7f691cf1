#pragma once

#include <cstdint>
#include <span>

#include "effects/wave_format.h"

namespace qm {

class AudioFileWriter;

// The live line a recording shows on a terminal's stderr: elapsed time, the input's peak level
// in dBFS as a meter with a clip warning, and the output's size. Silent when stderr is not a
// terminal. Used from the writer thread only.
class StatusLine {
  public:
    // `out` (may be null) is asked for its size at each update.
    void Start(const WaveFormat& format, const AudioFileWriter* out);
    // The voice named on the line from now on.
    void SetVoice(const char* name) { voice_ = name; }
    // A short note shown after it ("monitor muted"); null for none.
    void SetNote(const char* note) { note_ = note; }
    // Takes the peak of 16-bit input into the level shown next.
    void Measure(std::span<const uint8_t> pcm16);
    // Redraws at most four times a second.
    void Show(double elapsedSeconds);
    // True when the line is shown (stderr is a terminal).
    bool Active() const { return active_; }
    // Erases the line.
    void Clear();

  private:
    bool active_ = false;
    const AudioFileWriter* out_ = nullptr;
    const char* voice_ = nullptr;
    const char* note_ = nullptr;
    int peak_ = 0;
    bool clipped_ = false;
    int64_t lastShownNs_ = 0;
};

// A progress bar on a terminal's stderr for long file work; silent elsewhere.
class ProgressBar {
  public:
    explicit ProgressBar(const char* label);
    ~ProgressBar();
    ProgressBar(const ProgressBar&) = delete;
    ProgressBar& operator=(const ProgressBar&) = delete;
    // `fraction` of the work done, 0..1; redraws at most ten times a second.
    void Update(double fraction);

  private:
    const char* label_;
    bool active_;
    int64_t lastShownNs_ = 0;
};

}  // namespace qm
