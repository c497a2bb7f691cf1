// The four-lane transform kernels built for AVX. Without fused multiply-adds every lane still
// rounds exactly as the two-lane and the single-frame kernels do.

#include "dsp/pitch_fft_kernels.h"

namespace qm {

void PowerSpectrumRoundTripAvx(const PitchFftTables& tables, FrameQuad* data) {
    PowerSpectrumRoundTrip(tables, data);
}

}  // namespace qm
