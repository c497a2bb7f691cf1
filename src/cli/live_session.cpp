#include <signal.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <atomic>
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "cli/audio_file.h"
#include "cli/cli_args.h"
#include "cli/commands.h"
#include "cli/effect_choice.h"
#include "cli/live_session.h"
#include "cli/monitor_mute.h"
#include "cli/status_line.h"
#include "cli/voice_control.h"
#include "effects/effect_instances.h"
#include "effects/effect_registry.h"
#include "effects/effect_stream.h"
#include "effects/voice_switcher.h"
#include "encoder/voice_recipe.h"
#include "filter/effect_stage.h"
#include "soundserver/pulse_client.h"
#include "soundserver/spsc_ring.h"

namespace qm {

namespace {

// A source that delivers nothing for this long is stalled (a live source delivers every few
// tens of milliseconds, even in silence). Before its first delivery a source may take longer:
// a server wakes a suspended device, and an idle output's monitor starts at its own latency.
constexpr int64_t kStallNs = 2000000000;
constexpr int64_t kFirstDataNs = 5000000000;
// The capture ring holds this much audio: the writer may fall behind by that much (a slow
// disk, an encoder start) before input is lost.
constexpr double kRingSeconds = 4.0;
constexpr double kMonitorRingSeconds = 1.0;
// How often the writer wakes: a short period keeps the monitor's latency low, a long one
// keeps a plain recording cheap.
constexpr long kMonitorPeriodNs = 5000000;
constexpr long kRecordPeriodNs = 20000000;
// The server's buffers, asked for explicitly: a monitor gathers 5 ms per capture delivery and
// keeps two of them queued for the output, four on PipeWire, whose pulse server adds its own
// cycle's jitter (with two its output ran dry in most words, with three in a few of them); a
// plain recording takes 40 ms at a time, which costs fewer wake-ups.
constexpr uint32_t kMonitorFragmentsPerSecond = 200;
constexpr uint32_t kRecordFragmentsPerSecond = 25;
constexpr uint32_t kPlaybackFragments = 2;
constexpr uint32_t kPipeWirePlaybackFragments = 4;
constexpr double kOutputStartSeconds = 3.0;
constexpr int64_t kInputLookNs = 500000000;
// What the status line says while the voice also goes to the default output.
constexpr const char* kHearingNote = "hearing yourself";

std::atomic<int> gStopRequests{0};

void OnStopSignal(int) {
    // A second request must not cut the file short: say that it is being finished.
    if (gStopRequests.fetch_add(1) == 1) {
        static const char kNote[] = "\nquillmar: finishing the file, one moment\n";
        [[maybe_unused]] const ssize_t n = write(STDERR_FILENO, kNote, sizeof kNote - 1);
    }
}

}  // namespace

void InstallStopSignals() {
    struct sigaction action {};
    action.sa_handler = OnStopSignal;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    sigaction(SIGINT, &action, nullptr);
    sigaction(SIGTERM, &action, nullptr);
    signal(SIGPIPE, SIG_IGN);
}

namespace {

bool IsMpegRate(uint32_t hz) {
    static const uint32_t kRates[] = {8000, 11025, 12000, 16000, 22050, 24000, 32000, 44100, 48000};
    return std::find(std::begin(kRates), std::end(kRates), hz) != std::end(kRates);
}

// The rate at which the effect hears soonest. Frames are a power of two near a fixed duration,
// so the rounding differs between rates: Baby's frame is 1024 samples (23 ms) at 44.1 kHz but
// 2048 (43 ms) at 48 kHz. The server converts the source's rate as it delivers, so a monitor
// may ask for whichever of the common rates gives the shortest delay; ties keep the source's.
uint32_t QuickestRate(VoiceEffect& effect, WaveFormat format) {
    const uint32_t sourceHz = format.samplesPerSec;
    uint32_t best = sourceHz;
    double bestSeconds = 0.0;
    for (const uint32_t hz : {sourceHz, 44100u, 48000u}) {
        format.samplesPerSec = hz;
        format.avgBytesPerSec = hz * format.blockAlign;
        EffectStream trial;
        if (!trial.Prepare(effect, format))
            continue;
        const double seconds = static_cast<double>(trial.DelayBytes()) / format.avgBytesPerSec;
        if (bestSeconds == 0.0 || seconds < bestSeconds) {
            best = hz;
            bestSeconds = seconds;
        }
    }
    return best;
}

// The monitor's voice leaves from the capture callback: inside it the input is measured,
// counted and transformed, and the voice goes into the ring the stream stores to, so it waits
// for no thread. When a file is written too, that ring is the file's and the tap puts a copy
// of the voice into the monitor's ring (and the untransformed input into the raw take's ring
// first): the file gets the same voice, and hearing it costs no more than monitoring alone.
// Allocates nothing, never waits.
class MonitorTap : public CaptureFilter {
  public:
    MonitorTap(VoiceSwitcher* voices, MonitorMute* mute) : voices_(voices), mute_(mute) {}

    // Null rings: nothing besides the stream's own ring. `scratch` holds the monitor's copy
    // of a piece of voice while it fades or is muted (the file keeps the voice).
    void CopyTo(SpscRing* monitor, SpscRing* raw, std::span<uint8_t> scratch) {
        monitor_ = monitor;
        raw_ = raw;
        scratch_ = scratch;
    }

    void Filter(std::span<uint8_t> audio) override {
        int peak = 0;
        for (size_t i = 0; i + 1 < audio.size(); i += 2) {
            int16_t v = 0;
            std::memcpy(&v, audio.data() + i, 2);
            peak = std::max(peak, v < 0 ? -static_cast<int>(v) : static_cast<int>(v));
        }
        if (peak > peak_.load(std::memory_order_relaxed))
            peak_.store(peak, std::memory_order_relaxed);
        if (raw_ != nullptr)
            rawLost_.fetch_add(audio.size() - raw_->Write(audio), std::memory_order_relaxed);
        voices_->Transform(audio);
        if (monitor_ == nullptr)
            mute_->Apply(audio);  // the stream's own ring is the monitor's
        else
            mute_->Play(audio, scratch_, *monitor_);
        taken_.fetch_add(audio.size(), std::memory_order_release);
    }
    uint64_t TakenBytes() const { return taken_.load(std::memory_order_acquire); }
    // Bytes of input the raw take's ring had no room for (the writer fell behind).
    uint64_t RawLostBytes() const { return rawLost_.load(std::memory_order_relaxed); }
    // The input's peak since the last call, as 16-bit PCM for the status line.
    std::array<uint8_t, 2> TakePeak() {
        const auto peak = static_cast<int16_t>(std::min(peak_.exchange(0), 32767));
        std::array<uint8_t, 2> pcm{};
        std::memcpy(pcm.data(), &peak, 2);
        return pcm;
    }

  private:
    VoiceSwitcher* voices_;
    MonitorMute* mute_;
    SpscRing* monitor_ = nullptr;
    SpscRing* raw_ = nullptr;
    std::span<uint8_t> scratch_;
    std::atomic<uint64_t> taken_{0};
    std::atomic<uint64_t> rawLost_{0};
    std::atomic<int> peak_{0};
};

// Averages of the monitor's latency parts over a session, in microseconds.
struct LatencySums {
    double captureUs = 0, playbackUs = 0, queueUs = 0;
    int count = 0;
    void Add(int64_t capture, int64_t playback, double queue) {
        if (capture < 0 || playback < 0)
            return;
        captureUs += static_cast<double>(capture);
        playbackUs += static_cast<double>(playback);
        queueUs += queue;
        ++count;
    }
};

enum class Stop { kNone, kSeconds, kSignal, kInputEnded, kServerLost, kStalled, kWriteFailed };

// One live session: the capture callback fills `capture`; this thread takes the audio out,
// runs the effect stage, feeds the monitor and writes the files. A voice that runs hop by hop
// and is heard runs in the capture callback instead (MonitorTap), and this thread only writes.
class LiveSession {
  public:
    explicit LiveSession(const LiveRequest& r)
        : r_(r), record_(client_), playback_(output_), tap_(&voices_, &mute_) {}

    int Run();

  private:
    bool Prepare(std::string& error);
    void ChooseFormat(const SourceInfo& source);
    bool StartVoice(std::string& error);
    bool PrepareBuffers(std::string& error);
    bool OpenOutput(std::string& error);
    void Consume(std::span<uint8_t> chunk);
    void WriteVoice(std::span<const uint8_t> voice);
    Stop Pump();
    void Finish(Stop why);
    Stop Loop(LatencySums& latency);
    Stop NextStop();
    int ReportStop(Stop why);
    void ReportLosses(const LatencySums& latency);
    int FinishFiles(Stop why, int rc);
    void SwitchVoices();
    void ToggleHearing();
    void Play(std::span<const uint8_t> voice);
    bool OpenInput(const std::string& source, std::string& error);
    void AwaitInput();
    int Fail(const std::string& message) { return ReportFailure(r_.command, message); }

    const LiveRequest& r_;
    PulseClient client_;
    // The monitor's output has a connection of its own: on PipeWire's pulse server a capture
    // and a playback stream sharing one connection at the graph's own rate (48 kHz) get the
    // capture in bursts of a whole default cycle (21 ms) while the output asks every 5 ms, so
    // the output runs dry and over-full by turns and seconds of pauses are dropped.
    PulseClient output_;
    PulseStream record_;
    PulseStream playback_;
    WaveFormat format_{};
    std::unique_ptr<SpscRing> capture_;
    std::unique_ptr<SpscRing> monitorRing_;
    std::unique_ptr<SpscRing> rawRing_;  // the untransformed input when the tap transforms
    VoiceSwitcher voices_;
    MonitorMute mute_;
    MonitorTap tap_;
    VoiceControl control_;
    int voiceId_ = 0;    // the voice heard
    int targetId_ = 0;   // the voice last handed to the audio side
    int wantedId_ = -1;  // asked for, not yet handed over
    std::string queuedRecipe_;
    std::string recipe_;  // every voice of the take, with its start
    // The capture callback runs the voice and feeds the playback ring; with no file that is
    // all there is to do.
    bool tapped_ = false;
    bool monitorOnly_ = false;
    AudioFileWriter out_;
    AudioFileWriter raw_;
    std::vector<uint8_t> chunk_;
    std::vector<uint8_t> rawChunk_;
    std::vector<uint8_t> muted_;     // the monitor's copy of a chunk while it fades or is muted
    std::vector<uint8_t> tapMuted_;  // the same for the capture callback
    bool noMonitorSaid_ = false;
    uint32_t fragment_ = 0;
    std::string sourceName_;
    bool inputGone_ = false;
    bool flowing_ = false;  // the voice has reached the output once
    int64_t nextLookNs_ = 0;
    uint64_t limitBytes_ = UINT64_MAX;
    uint64_t takenBytes_ = 0;
    uint64_t skipBytes_ = 0;  // the stage's lead-in and the effect's delay
    uint64_t effectDelayBytes_ = 0;
    std::string writeError_;
    StatusLine status_;
};

// Connects, chooses the format, starts the voice, makes the rings and files, opens the output
// when the voice is heard, and only then the input.
bool LiveSession::Prepare(std::string& error) {
    if (!client_.Connect(kServerConnectSeconds, error))
        return false;
    SourceInfo source;
    if (!client_.Source(r_.device.empty() ? r_.firstDevice : r_.device, source, error))
        return false;
    ChooseFormat(source);
    if (!StartVoice(error) || !PrepareBuffers(error))
        return false;
    fragment_ = format_.avgBytesPerSec /
                (r_.monitor ? kMonitorFragmentsPerSecond : kRecordFragmentsPerSecond) /
                format_.blockAlign * format_.blockAlign;
    if (r_.monitor && !OpenOutput(error))
        return false;
    return OpenInput(source.name, error);
}

void LiveSession::ChooseFormat(const SourceInfo& source) {
    format_.formatTag = 1;
    format_.bitsPerSample = 16;
    format_.samplesPerSec = r_.rateHz != 0 ? r_.rateHz : source.rateHz;
    format_.channels = static_cast<uint16_t>(r_.channels != 0 ? r_.channels : source.channels);
    if (LowerExtension(r_.out) == "mp3") {
        // The server converts what the source delivers to what MP3 carries.
        if (!IsMpegRate(format_.samplesPerSec) && r_.rateHz == 0)
            format_.samplesPerSec = 48000;
        if (format_.channels > 2 && r_.channels == 0)
            format_.channels = 2;
    }
    format_.blockAlign = static_cast<uint16_t>(format_.channels * 2);
    // A recording keeps the source's rate; only what is heard and not kept may move.
    if (r_.monitor && r_.out.empty() && r_.effect != nullptr && r_.rateHz == 0)
        format_.samplesPerSec = QuickestRate(*r_.effect, format_);
    format_.avgBytesPerSec = format_.samplesPerSec * format_.blockAlign;
}

bool LiveSession::StartVoice(std::string& error) {
    voiceId_ = targetId_ = r_.effect != nullptr ? RecorderIndexOf(*r_.effect) : 0;
    recipe_ = VoiceRecipeOf(r_.effect);
    if (!voices_.Start(r_.effect, voiceId_, format_)) {
        error = "effect '" + std::string(VoiceNameOf(voiceId_)) + "' cannot run on " +
                std::to_string(format_.channels) + " channels at " +
                std::to_string(format_.samplesPerSec) + " Hz (try --rate or --channels)";
        return false;
    }
    skipBytes_ = voices_.AudioDelayBytes();
    effectDelayBytes_ = skipBytes_;
    // A block effect's long steps would stall the server's thread: it runs on this one.
    tapped_ = r_.monitor && voices_.AudioByHops();
    monitorOnly_ = tapped_ && r_.out.empty() && r_.raw.empty();
    // A block voice switched to later runs on a worker of its own instead.
    voices_.RunBlocksOnWorker(tapped_);
    mute_.Prepare(format_);
    return true;
}

// Everything the audio path and this thread will need is allocated here, before any audio.
bool LiveSession::PrepareBuffers(std::string& error) {
    if (r_.seconds > 0.0)
        limitBytes_ = static_cast<uint64_t>(std::llround(r_.seconds * format_.samplesPerSec)) *
                      format_.blockAlign;
    const auto ringBytes = static_cast<size_t>(kRingSeconds * format_.avgBytesPerSec);
    if (!monitorOnly_)
        capture_ = std::make_unique<SpscRing>(ringBytes);
    chunk_.resize(std::max<size_t>(
        format_.blockAlign, format_.avgBytesPerSec / 50 / format_.blockAlign * format_.blockAlign));
    muted_.resize(chunk_.size());
    if (tapped_ && !r_.raw.empty()) {
        rawRing_ = std::make_unique<SpscRing>(ringBytes);
        rawChunk_.resize(chunk_.size());
    }
    if (r_.monitor) {
        monitorRing_ = std::make_unique<SpscRing>(
            static_cast<size_t>(kMonitorRingSeconds * format_.avgBytesPerSec));
        if (tapped_ && !monitorOnly_) {
            tapMuted_.resize(chunk_.size());
            tap_.CopyTo(monitorRing_.get(), rawRing_.get(), tapMuted_);
        }
    }
    if (!r_.out.empty() && !out_.Open(r_.out, format_, error))
        return false;
    return r_.raw.empty() || raw_.Open(r_.raw, format_, error);
}

bool LiveSession::OpenOutput(std::string& error) {
    std::string sink = r_.sink;
    if (sink.empty() && !client_.DefaultSinkName(sink, error))
        return false;
    if (!output_.Connect(kServerConnectSeconds, error))
        return false;
    const uint32_t fragments =
        client_.OnPipeWire() ? kPipeWirePlaybackFragments : kPlaybackFragments;
    if (!playback_.OpenPlayback(sink, format_, fragments * fragment_, *monitorRing_, error))
        return false;
    if (r_.outputOpened)
        r_.outputOpened();
    // Capture starts once the output runs: audio gathered while the output still starts
    // would pile up in the ring and be skipped as a burst, and the first word with it.
    output_.WaitUntil([&] { return playback_.Running() || !output_.Alive(); }, kOutputStartSeconds);
    return true;
}

bool LiveSession::OpenInput(const std::string& source, std::string& error) {
    sourceName_ = source;
    if (r_.awaitInput)
        record_.StayOnDevice();
    if (!tapped_)
        return record_.OpenRecord(source, format_, fragment_, *capture_, error);
    return record_.OpenRecord(source, format_, fragment_, monitorOnly_ ? *monitorRing_ : *capture_,
                              error, &tap_);
}

// The input went away (a microphone unplugged): what listens to the voice hears silence, and
// every half second the source is looked for again; the same name, or with no --device the
// default source (never the voice's own) or the one that went away.
void LiveSession::AwaitInput() {
    if (!inputGone_) {
        record_.Close();
        inputGone_ = true;
        std::fprintf(stderr,
                     "\nquillmar %s: the input '%s' is gone; the voice is silent until it "
                     "is back\n",
                     r_.command, sourceName_.c_str());
    }
    const int64_t now = MonotonicNs();
    if (now < nextLookNs_)
        return;
    nextLookNs_ = now + kInputLookNs;
    const auto own = [&](const std::string& name) {
        return !r_.ownSource.empty() &&
               (name == r_.ownSource || name == r_.ownSource + "_sink.monitor");
    };
    SourceInfo source;
    std::string error;
    bool found = client_.Source(r_.device, source, error) && !own(source.name);
    // The default may be ours (a server may make every new source its default): then the
    // input that went away is taken again when it is back under its name.
    if (!found && r_.device.empty())
        found = client_.Source(sourceName_, source, error);
    if (!found)
        return;
    if (!OpenInput(source.name, error)) {
        record_.Close();
        return;
    }
    inputGone_ = false;
    std::fprintf(stderr, "quillmar %s: the input '%s' is back\n", r_.command, source.name.c_str());
}

// Hands a voice asked for on the terminal or through the socket to the audio side (one at a
// time), and notes every voice the audio side has begun, with its start, in the take's recipe.
void LiveSession::SwitchVoices() {
    voices_.Collect();
    if (const int heard = voices_.CurrentId(); heard != voiceId_) {
        voiceId_ = heard;
        char at[40];
        std::snprintf(at, sizeof at, " | %.3f s: ",
                      static_cast<double>(voices_.CurrentSinceBytes()) / format_.avgBytesPerSec);
        recipe_ += at + queuedRecipe_;
        control_.SetCurrent(heard);
        status_.SetVoice(VoiceNameOf(heard));
    }
    if (const int wanted = control_.TakeRequest(); wanted >= 0)
        wantedId_ = wanted;
    if (wantedId_ < 0 || voices_.Busy())
        return;
    if (wantedId_ == targetId_) {
        wantedId_ = -1;
        return;
    }
    std::unique_ptr<VoiceEffect> effect;
    if (VoiceEffect* shared = wantedId_ > 0 ? EffectForRecorderIndex(wantedId_) : nullptr) {
        const auto& all = EffectRegistry::Instance().Effects();
        effect = NewEffectInstance(
            static_cast<uint32_t>(std::find(all.begin(), all.end(), shared) - all.begin()));
        if (effect == nullptr)
            return;
        effect->Reset();
        // The voice the take began with keeps the parameters it was given.
        if (shared == r_.effect) {
            const std::vector<EffectParam*> from = ParamsOf(*shared), to = ParamsOf(*effect);
            for (size_t i = 0; i < from.size() && i < to.size(); ++i)
                to[i]->SetValue(from[i]->GetValue());
        }
    }
    const std::string recipe = VoiceRecipeOf(effect.get());
    const VoiceSwitcher::Offer offer = voices_.Switch(std::move(effect), wantedId_);
    if (offer == VoiceSwitcher::Offer::kBusy)
        return;
    if (offer == VoiceSwitcher::Offer::kQueued) {
        targetId_ = wantedId_;
        queuedRecipe_ = recipe;
    } else {
        std::fprintf(stderr, "\nquillmar %s: the voice '%s' cannot run on this input\n", r_.command,
                     VoiceNameOf(wantedId_));
    }
    wantedId_ = -1;
}

// What the monitor plays: the voice, or its muted copy (the file keeps the voice).
void LiveSession::Play(std::span<const uint8_t> voice) {
    if (monitorRing_ != nullptr)
        mute_.Play(voice, muted_, *monitorRing_);
}

// The m key: live turns the server's loopback on and off; monitor and record --monitor mute
// what they play, the voice running on. A record without a monitor has nothing to turn on
// without the server's buffers and rate set up for one, so it says so.
void LiveSession::ToggleHearing() {
    if (r_.toggleHearing) {
        const bool hearing = r_.toggleHearing();
        status_.SetNote(hearing ? kHearingNote : nullptr);
        if (!status_.Active())
            std::fprintf(stderr, "quillmar %s: hearing yourself %s\n", r_.command,
                         hearing ? "on" : "off");
    } else if (r_.monitor) {
        mute_.Set(!mute_.Muted());
        status_.SetNote(mute_.Muted() ? "monitor muted" : nullptr);
        if (!status_.Active())
            std::fprintf(stderr, "quillmar %s: the monitor is %s\n", r_.command,
                         mute_.Muted() ? "muted" : "on again");
    } else if (!noMonitorSaid_) {
        noMonitorSaid_ = true;
        std::fprintf(stderr,
                     "\nquillmar %s: there is no monitor to mute (record with --monitor to hear "
                     "yourself)\n",
                     r_.command);
    }
}

// One chunk of the take: the input, or with the tap the voice it made (the input's copy then
// waits in the raw ring, as long as the voice).
void LiveSession::Consume(std::span<uint8_t> chunk) {
    if (tapped_) {
        if (rawRing_ != nullptr && writeError_.empty()) {
            const size_t got = rawRing_->Read({rawChunk_.data(), chunk.size()});
            if (!raw_.Write({rawChunk_.data(), got}, writeError_))
                return;
        }
    } else {
        if (!r_.raw.empty() && writeError_.empty() && !raw_.Write(chunk, writeError_))
            return;
        status_.Measure(chunk);
        voices_.Transform(chunk);
        Play(chunk);
    }
    WriteVoice(chunk);
}

// The voice into the file, past the lead-in: the stage's own and the effect's delay.
void LiveSession::WriteVoice(std::span<const uint8_t> voice) {
    const size_t skip = static_cast<size_t>(std::min<uint64_t>(skipBytes_, voice.size()));
    skipBytes_ -= skip;
    if (!r_.out.empty() && writeError_.empty())
        out_.Write(voice.subspan(skip), writeError_);
}

// Takes everything the capture ring holds (up to the --seconds limit) through the session.
Stop LiveSession::Pump() {
    if (tapped_) {
        const std::array<uint8_t, 2> peak = tap_.TakePeak();
        status_.Measure(peak);
    }
    if (monitorOnly_) {
        // The capture callback did the work; only the count is left.
        takenBytes_ = tap_.TakenBytes();
        return takenBytes_ >= limitBytes_ ? Stop::kSeconds : Stop::kNone;
    }
    for (;;) {
        const uint64_t room = limitBytes_ - takenBytes_;
        const size_t want = static_cast<size_t>(std::min<uint64_t>(room, chunk_.size()));
        const size_t got = capture_->Read({chunk_.data(), want});
        if (got == 0)
            break;
        takenBytes_ += got;
        Consume({chunk_.data(), got});
    }
    if (!writeError_.empty())
        return Stop::kWriteFailed;
    return takenBytes_ >= limitBytes_ ? Stop::kSeconds : Stop::kNone;
}

void LiveSession::Finish(Stop why) {
    record_.Close();
    if (why != Stop::kWriteFailed && why != Stop::kSeconds)
        Pump();
    if (writeError_.empty()) {
        // Push the delay out with silence: the file ends with the last moments spoken. As much
        // as the lead-in skipped, so that the file is as long as the take whatever voices it
        // went through.
        for (uint64_t left = effectDelayBytes_; left > 0 && writeError_.empty();) {
            const size_t n = static_cast<size_t>(std::min<uint64_t>(left, chunk_.size()));
            std::fill_n(chunk_.begin(), n, 0);
            voices_.Transform({chunk_.data(), n});
            if (monitorRing_ != nullptr) {
                // At the pace the output plays: all at once, a long delay (Male2Female's 0.2 s)
                // would be a backlog the output drops, and the last words with it.
                output_.WaitUntil([&] { return monitorRing_->Readable() < n || !output_.Alive(); },
                                  kMonitorRingSeconds);
                Play({chunk_.data(), n});
            }
            WriteVoice({chunk_.data(), n});
            left -= n;
        }
    }
    if (monitorRing_ != nullptr && output_.Alive()) {
        // Let the monitor play out what it holds (bounded by its ring).
        output_.WaitUntil([&] { return monitorRing_->Readable() == 0; }, kMonitorRingSeconds);
    }
    playback_.Close();
    status_.Clear();
}

int LiveSession::Run() {
    std::string error;
    InstallStopSignals();
    if (!Prepare(error)) {
        record_.Close();
        playback_.Close();
        out_.Abandon();
        raw_.Abandon();
        return Fail(error);
    }
    status_.Start(format_, r_.out.empty() ? nullptr : &out_);
    status_.SetVoice(VoiceNameOf(voiceId_));
    if (r_.hearingYourself)
        status_.SetNote(kHearingNote);
    std::string warning;
    control_.Open(voiceId_, warning);
    if (!warning.empty())
        std::fprintf(stderr, "quillmar %s: voices cannot be switched from elsewhere: %s\n",
                     r_.command, warning.c_str());
    LatencySums latency;
    const Stop why = Loop(latency);
    Finish(why);
    const int rc = ReportStop(why);
    ReportLosses(latency);
    return FinishFiles(why, rc);
}

// Takes the audio out, switches voices and watches the session until something stops it.
Stop LiveSession::Loop(LatencySums& latency) {
    Stop why = Stop::kNone;
    // With the monitor's audio moved by the server's thread, this one only watches.
    const long periodNs = r_.monitor && !tapped_ ? kMonitorPeriodNs : kRecordPeriodNs;
    while (why == Stop::kNone) {
        control_.Pause(periodNs);
        const size_t waiting = tapped_ ? 0 : capture_->Readable();
        why = Pump();
        // Once the start-up burst is past, the monitor's latency is what the server holds on
        // both streams, what waits in the rings, and the effect's own delay.
        if (r_.monitor && takenBytes_ > format_.avgBytesPerSec) {
            latency.Add(record_.LatencyUs(), playback_.LatencyUs(),
                        1e6 * static_cast<double>(waiting + monitorRing_->Readable()) /
                            format_.avgBytesPerSec);
        }
        if (why != Stop::kNone)
            break;
        if (!flowing_ && takenBytes_ > 0 && (!r_.monitor || playback_.Running())) {
            flowing_ = true;
            if (r_.flowing) {
                status_.Clear();  // the line is said on a line of its own
                r_.flowing();
            }
        }
        SwitchVoices();
        if (r_.eachPass)
            r_.eachPass();
        if (control_.TakeHearingToggle())
            ToggleHearing();
        why = NextStop();
        status_.Show(static_cast<double>(takenBytes_) / format_.avgBytesPerSec);
    }
    return why;
}

// Why the session must stop now, if it must: a request, the server or the source.
Stop LiveSession::NextStop() {
    if (gStopRequests.load() > 0 || control_.StopAsked())
        return Stop::kSignal;
    if (!client_.Alive() || (r_.monitor && !output_.Alive()))
        return Stop::kServerLost;
    if (inputGone_ || (record_.Ended() && r_.awaitInput)) {
        AwaitInput();
        return Stop::kNone;
    }
    if (record_.Ended())
        return Stop::kInputEnded;
    if (MonotonicNs() - record_.LastDataNs() > (takenBytes_ > 0 ? kStallNs : kFirstDataNs))
        return Stop::kStalled;
    return Stop::kNone;
}

int LiveSession::ReportStop(Stop why) {
    int rc = kExitOk;
    // Only a take that writes a file has something to keep.
    const std::string kept =
        r_.out.empty() && r_.raw.empty() ? "" : "; the recording so far is kept";
    switch (why) {
        case Stop::kServerLost:
            rc = Fail("the sound server went away" + kept);
            break;
        case Stop::kStalled:
            rc = Fail("the capture source delivered no audio for 2 s" + kept);
            break;
        case Stop::kInputEnded:
            std::fprintf(stderr, "quillmar %s: the capture source went away; the recording ends\n",
                         r_.command);
            break;
        default:
            break;
    }
    return rc;
}

// What the session lost or shortened, and the monitor's latency as measured over the session.
void LiveSession::ReportLosses(const LatencySums& latency) {
    if (voices_.AudioRefusedSteps() > 0) {
        std::fprintf(stderr,
                     "quillmar %s: warning: the effect refused %llu steps (kept unchanged)\n",
                     r_.command, static_cast<unsigned long long>(voices_.AudioRefusedSteps()));
    }
    const uint64_t lost = std::max(record_.LostBytes(), tap_.RawLostBytes());
    if (lost > 0) {
        std::fprintf(stderr,
                     "quillmar %s: warning: %.0f ms of input were lost (the writer fell "
                     "behind)\n",
                     r_.command, 1000.0 * static_cast<double>(lost) / format_.avgBytesPerSec);
    }
    if (const uint64_t late = voices_.AudioLateBytes(); late > 0) {
        std::fprintf(stderr,
                     "quillmar %s: warning: the voice came %.0f ms late (heard as silence)\n",
                     r_.command, 1000.0 * static_cast<double>(late) / format_.avgBytesPerSec);
    }
    if (const uint64_t dropped = playback_.DroppedBytes(); dropped > 0) {
        std::fprintf(stderr, "quillmar %s: the monitor skipped %.0f ms to keep its latency low\n",
                     r_.command, 1000.0 * static_cast<double>(dropped) / format_.avgBytesPerSec);
    }
    if (const uint64_t shortened = playback_.ShortenedBytes(); shortened > 0) {
        std::fprintf(stderr,
                     "quillmar %s: the monitor shortened pauses by %.0f ms to keep its latency "
                     "low\n",
                     r_.command, 1000.0 * static_cast<double>(shortened) / format_.avgBytesPerSec);
    }
    if (latency.count > 0) {
        const double effectMs =
            1000.0 * static_cast<double>(effectDelayBytes_) / format_.avgBytesPerSec;
        const double captureMs = latency.captureUs / latency.count / 1000.0;
        const double queueMs = latency.queueUs / latency.count / 1000.0;
        const double playbackMs = latency.playbackUs / latency.count / 1000.0;
        std::fprintf(stderr,
                     "quillmar %s: capture-to-monitor latency %.0f ms (capture %.0f, effect "
                     "%.0f, queues %.0f, playback %.0f)\n",
                     r_.command, captureMs + effectMs + queueMs + playbackMs, captureMs, effectMs,
                     queueMs, playbackMs);
    }
}

// Completes every file of the take, also after a refused write, and says where it is kept.
int LiveSession::FinishFiles(Stop why, int rc) {
    std::string kept;
    for (AudioFileWriter* w : {&raw_, &out_}) {
        const std::string& path = w == &out_ ? r_.out : r_.raw;
        if (path.empty())
            continue;
        std::string finishError;
        // The raw take carries no voice: it is the microphone's own. After a refused write
        // this still completes the file with everything written before.
        if (!w->Finish(finishError, w == &out_ ? recipe_ : std::string())) {
            rc = Fail(finishError);
            continue;
        }
        std::printf("%s\n", w->KeptPath().c_str());
        kept += (kept.empty() ? "'" : " and '") + w->KeptPath() + "'";
    }
    if (why == Stop::kWriteFailed) {
        const AudioFileWriter& failed = out_.Fault() != WriteFault::kNone ? out_ : raw_;
        const std::string cause =
            failed.Fault() == WriteFault::kError
                ? writeError_
                : DescribeWriteFault(failed.Fault(), &failed == &out_ ? r_.out : r_.raw);
        rc = Fail(kept.empty() ? cause + ": nothing could be kept"
                               : cause + ": the recording so far is kept in " + kept);
    }
    return rc;
}

// The first kLiveOptionCount options are record's and monitor's alike.
constexpr size_t kLiveOptionCount = 6;
const OptionSpec kRecordOptions[] = {
    {"--effect", OptionKind::kText, "NAME|INDEX", 0, 0, "none",
     "effect name or index (see 'quillmar list') or none"},
    {"--param", OptionKind::kText, "NAME=VALUE", 0, 0, nullptr,
     "sets an effect parameter within its range", true},
    {"--device", OptionKind::kText, "NAME", 0, 0, "the default source",
     "capture source (see 'quillmar devices')"},
    {"--seconds", OptionKind::kNumber, "S", 0.01, 86400, "until Ctrl-C",
     "stop after S seconds of audio"},
    {"--rate", OptionKind::kInt, "HZ", 8000, 192000,
     "the source's; for MP3 48000 when the source's is no MPEG rate; for monitor the one "
     "that gives the effect its shortest delay",
     "sampling rate asked of the server"},
    {"--channels", OptionKind::kInt, "N", 1, 8, "the source's; for MP3 at most 2",
     "channels asked of the server"},
    {"--monitor", OptionKind::kFlag, nullptr, 0, 0, nullptr,
     "also play the transformed voice to the default output"},
    {"--keep-raw", OptionKind::kFlag, nullptr, 0, 0, nullptr,
     "also keep the untransformed take as FLAC beside OUT (OUT's name with .raw.flac)"},
};
}  // namespace

std::span<const OptionSpec> RecordOptions() {
    return kRecordOptions;
}

std::span<const OptionSpec> MonitorOptions() {
    return std::span<const OptionSpec>(kRecordOptions).first<kLiveOptionCount>();
}

bool ReadLiveRequest(const ParsedArgs& parsed, LiveRequest& r, std::string& error) {
    if (parsed.Has("--effect") && !ChooseEffect(parsed.Text("--effect"), r.effect, r.index, error))
        return false;
    const std::vector<std::string> params = parsed.All("--param");
    if (!params.empty() && r.effect == nullptr) {
        error = "--param needs --effect with an effect other than none";
        return false;
    }
    for (const std::string& assignment : params) {
        if (!ApplyParam(*r.effect, assignment, error))
            return false;
    }
    r.device = parsed.Text("--device");
    r.seconds = parsed.Number("--seconds", 0.0);
    r.rateHz = static_cast<uint32_t>(parsed.Number("--rate", 0));
    r.channels = static_cast<uint32_t>(parsed.Number("--channels", 0));
    return true;
}

int RunLiveSession(const LiveRequest& r) {
    LiveSession session(r);
    return session.Run();
}

}  // namespace qm
