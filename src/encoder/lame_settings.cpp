#include "encoder/lame_settings.h"

#include <lame/lame.h>

#include <algorithm>

#include "encoder/mp3_frame.h"
#include "encoder/pcm_input.h"

namespace qm {

bool ConfigureMp3Encoder(lame_global_struct* lame, uint32_t sampleRateHz, uint16_t channels) {
    if (lame == nullptr || (channels != 1 && channels != 2) || !IsLayer3SampleRate(sampleRateHz)) {
        return false;
    }
    const int rate = static_cast<int>(sampleRateHz);
    lame_set_num_channels(lame, channels);
    lame_set_in_samplerate(lame, rate);
    // The stream keeps its rate: LAME would otherwise pick a lower one for the bit rate.
    lame_set_out_samplerate(lame, rate);
    lame_set_mode(lame, channels == 1 ? MONO : JOINT_STEREO);
    lame_set_VBR(lame, vbr_off);
    lame_set_brate(lame, static_cast<int>(Mp3BitrateKbpsFor(sampleRateHz)));
    lame_set_quality(lame, 5);
    // LAME's own tag frame would stay an empty frame in the stream: it is only filled in when
    // LAME writes the file itself.
    lame_set_bWriteVbrTag(lame, 0);
    return lame_init_params(lame) >= 0;
}

uint32_t Mp3EncoderDelay(uint32_t sampleRateHz, uint16_t channels) {
    lame_global_struct* lame = lame_init();
    if (lame == nullptr) {
        return 0;
    }
    const int delay =
        ConfigureMp3Encoder(lame, sampleRateHz, channels) ? lame_get_encoder_delay(lame) : 0;
    lame_close(lame);
    return static_cast<uint32_t>(std::max(delay, 0));
}

}  // namespace qm
