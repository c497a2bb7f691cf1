// Cost of the effect stage itself (ring copies, block hand-off, the lock) with an effect that
// does nothing, per 10 ms buffer of 44100 Hz 16-bit stereo; the counter is the real-time factor.
#include <benchmark/benchmark.h>

#include <memory>
#include <vector>

#include "filter/effect_stage.h"

using namespace qm;

namespace {

class NoEffect : public VoiceEffect {
  public:
    explicit NoEffect(uint32_t blockBytes) : blockBytes_(blockBytes) {}
    uint32_t GetBlockSize(const WaveFormat*) override { return blockBytes_; }
    int Prepare(const WaveFormat*) override { return 1; }
    void Release() override {}
    int GetParams(EffectParam** params, uint32_t* count) override {
        return ListParams({}, params, count);
    }
    int Process(const WaveFormat*, uint8_t* data, const uint32_t*) override {
        benchmark::DoNotOptimize(data);
        return 1;
    }

  private:
    uint32_t blockBytes_;
};

void BM_StageTransform(benchmark::State& state) {
    const auto bufferBytes = static_cast<size_t>(state.range(0));
    auto stage = std::make_unique<EffectStage>();
    NoEffect effect(4096);
    stage->SetEffect(&effect);
    WaveFormat f;
    f.formatTag = 1;
    f.channels = 2;
    f.samplesPerSec = 44100;
    f.bitsPerSample = 16;
    f.blockAlign = 4;
    f.avgBytesPerSec = 176400;
    const auto bytes = WaveFormatToBytes(f);
    stage->SetFormat(kWaveFormatType, bytes.data(), bytes.size());
    std::vector<uint8_t> buffer(bufferBytes, 1);
    for (auto _ : state) {
        stage->Transform(buffer);
        benchmark::DoNotOptimize(buffer.data());
    }
    const double audioSeconds =
        static_cast<double>(state.iterations()) * static_cast<double>(bufferBytes) / 176400.0;
    // Seconds of audio per second of processing time.
    state.counters["realtime_x"] = benchmark::Counter(audioSeconds, benchmark::Counter::kIsRate);
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * bufferBytes));
}
BENCHMARK(BM_StageTransform)->Arg(1764)->Arg(88200);

}  // namespace

BENCHMARK_MAIN();
