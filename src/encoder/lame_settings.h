#pragma once

#include <cstdint>

// LAME's encoder state, declared by its own header in the global namespace.
struct lame_global_struct;

namespace qm {

// Sets up a fresh LAME encoder for the recorder's MP3 stream: the input's rate kept as the
// output rate, mono for one channel and joint stereo for two, constant bit rate
// (Mp3BitrateKbpsFor), and no tag frame of LAME's own (the file stage writes the Info tag).
// False when LAME refuses the parameters; the caller then closes the encoder. Allocates
// (LAME sizes its buffers here); call it before streaming starts.
bool ConfigureMp3Encoder(lame_global_struct* lame, uint32_t sampleRateHz, uint16_t channels);

// The encoder's name and version as the Info frame records it (LAME's own form, so decoders
// trust the delay fields it carries).
inline constexpr char kMp3EncoderTag[] = "LAME3.100";

// Samples of delay LAME puts before the first input sample with these settings: what the
// decoder trims at the start. 0 when LAME refuses the settings. Allocates.
uint32_t Mp3EncoderDelay(uint32_t sampleRateHz, uint16_t channels);

}  // namespace qm
