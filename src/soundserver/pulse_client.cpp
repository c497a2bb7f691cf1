#include "soundserver/pulse_client.h"

#include <algorithm>
#include <cstring>

namespace qm {

namespace {

constexpr double kOperationSeconds = 5.0;
// A capture filter works on pieces of at most this many bytes of the server's audio.
constexpr size_t kScratchBytes = 16384;
// Playback catching up: audio whose peak stays below -36 dBFS counts as a pause, looked at in
// pieces of 2.5 ms; a backlog of this many buffers is dropped whatever it holds.
constexpr int kQuietPeak = 512;
constexpr uint32_t kQuietPiecesPerSecond = 400;
constexpr size_t kBacklogLimitBuffers = 20;

std::string ServerError(pa_context* c) {
    return pa_strerror(pa_context_errno(c));
}

}  // namespace

int64_t MonotonicNs() {
    struct timespec t {};
    clock_gettime(CLOCK_MONOTONIC, &t);
    return static_cast<int64_t>(t.tv_sec) * 1000000000 + t.tv_nsec;
}

PulseClient::~PulseClient() {
    if (loop_ == nullptr)
        return;
    pa_threaded_mainloop_stop(loop_);
    if (context_ != nullptr) {
        pa_context_set_state_callback(context_, nullptr, nullptr);
        pa_context_disconnect(context_);
        pa_context_unref(context_);
    }
    pa_threaded_mainloop_free(loop_);
}

void PulseClient::OnState(pa_context* c, void* self) {
    const pa_context_state_t state = pa_context_get_state(c);
    if (state == PA_CONTEXT_READY)
        static_cast<PulseClient*>(self)->alive_.store(true, std::memory_order_release);
    if (!PA_CONTEXT_IS_GOOD(state))
        static_cast<PulseClient*>(self)->alive_.store(false, std::memory_order_release);
}

bool PulseClient::Connect(double timeoutSeconds, std::string& error) {
    loop_ = pa_threaded_mainloop_new();
    if (loop_ == nullptr) {
        error = "cannot start the sound-server client";
        return false;
    }
    context_ = pa_context_new(pa_threaded_mainloop_get_api(loop_), "quillmar");
    if (context_ == nullptr) {
        error = "cannot start the sound-server client";
        return false;
    }
    pa_context_set_state_callback(context_, OnState, this);
    // A recorder must not start a server of its own: the user's desktop runs one, or none.
    if (pa_context_connect(context_, nullptr, PA_CONTEXT_NOAUTOSPAWN, nullptr) < 0 ||
        pa_threaded_mainloop_start(loop_) < 0) {
        error = "no sound server (PulseAudio or PipeWire) is running: " + ServerError(context_);
        return false;
    }
    pa_context_state_t state = PA_CONTEXT_UNCONNECTED;
    const bool settled = WaitUntil(
        [&] {
            state = pa_context_get_state(context_);
            return state == PA_CONTEXT_READY || !PA_CONTEXT_IS_GOOD(state);
        },
        timeoutSeconds);
    if (state == PA_CONTEXT_READY)
        return true;
    error = settled
                ? "no sound server (PulseAudio or PipeWire) is running: " + ServerError(context_)
                : "the sound server did not answer within " +
                      std::to_string(static_cast<int>(timeoutSeconds)) + " s";
    return false;
}

bool PulseClient::RunOperation(pa_operation* op, const char* what, std::string& error) {
    if (op == nullptr) {
        error =
            std::string("cannot ask the sound server for ") + what + ": " + ServerError(context_);
        return false;
    }
    const bool done =
        WaitUntil([&] { return pa_operation_get_state(op) != PA_OPERATION_RUNNING || !Alive(); },
                  kOperationSeconds);
    {
        Lock lock(*this);
        if (pa_operation_get_state(op) == PA_OPERATION_RUNNING)
            pa_operation_cancel(op);
        pa_operation_unref(op);
    }
    if (!done || !Alive()) {
        error = std::string("the sound server did not tell ") + what;
        return false;
    }
    return true;
}

bool PulseClient::ServerDefaults(std::string& source, std::string& sink, std::string& error) {
    struct Defaults {
        std::string source, sink, server;
    } defaults;
    pa_operation* op = nullptr;
    {
        Lock lock(*this);
        op = pa_context_get_server_info(
            context_,
            [](pa_context*, const pa_server_info* i, void* d) {
                auto* out = static_cast<Defaults*>(d);
                if (i != nullptr && i->default_source_name != nullptr)
                    out->source = i->default_source_name;
                if (i != nullptr && i->default_sink_name != nullptr)
                    out->sink = i->default_sink_name;
                if (i != nullptr && i->server_name != nullptr)
                    out->server = i->server_name;
            },
            &defaults);
    }
    if (!RunOperation(op, "its defaults", error))
        return false;
    source = defaults.source;
    sink = defaults.sink;
    // PipeWire's pulse server names itself "PulseAudio (on PipeWire x.y.z)".
    onPipeWire_ = defaults.server.find("PipeWire") != std::string::npos;
    return true;
}

bool PulseClient::DefaultSinkName(std::string& name, std::string& error) {
    std::string source;
    return ServerDefaults(source, name, error);
}

bool PulseClient::Sources(std::vector<SourceInfo>& sources, std::string& error) {
    std::string defaultSource, defaultSink;
    if (!ServerDefaults(defaultSource, defaultSink, error))
        return false;
    std::vector<SourceInfo> found;
    pa_operation* op = nullptr;
    {
        Lock lock(*this);
        op = pa_context_get_source_info_list(
            context_,
            [](pa_context*, const pa_source_info* i, int eol, void* d) {
                if (eol != 0 || i == nullptr)
                    return;
                SourceInfo s;
                s.name = i->name != nullptr ? i->name : "";
                s.description = i->description != nullptr ? i->description : "";
                s.rateHz = i->sample_spec.rate;
                s.channels = i->sample_spec.channels;
                s.isMonitor = i->monitor_of_sink != PA_INVALID_INDEX;
                static_cast<std::vector<SourceInfo>*>(d)->push_back(std::move(s));
            },
            &found);
    }
    if (!RunOperation(op, "its sources", error))
        return false;
    for (SourceInfo& s : found)
        s.isDefault = s.name == defaultSource;
    sources = std::move(found);
    return true;
}

bool PulseClient::Source(const std::string& name, SourceInfo& source, std::string& error) {
    std::vector<SourceInfo> sources;
    if (!Sources(sources, error))
        return false;
    for (const SourceInfo& s : sources) {
        if (name.empty() ? s.isDefault : s.name == name) {
            source = s;
            return true;
        }
    }
    if (sources.empty())
        error = "the sound server has no capture source (no microphone)";
    else if (name.empty())
        error = "the sound server names no default capture source (choose one with --device)";
    else
        error = "no capture source is named '" + name + "' (see 'quillmar devices')";
    return false;
}

PulseStream::~PulseStream() {
    Close();
}

void PulseStream::Close() {
    if (stream_ == nullptr)
        return;
    PulseClient::Lock lock(client_);
    pa_stream_set_state_callback(stream_, nullptr, nullptr);
    pa_stream_set_read_callback(stream_, nullptr, nullptr);
    pa_stream_set_write_callback(stream_, nullptr, nullptr);
    pa_stream_disconnect(stream_);
    pa_stream_unref(stream_);
    stream_ = nullptr;
}

void PulseStream::OnState(pa_stream* s, void* self) {
    const pa_stream_state_t state = pa_stream_get_state(s);
    if (state == PA_STREAM_FAILED || state == PA_STREAM_TERMINATED)
        static_cast<PulseStream*>(self)->ended_.store(true, std::memory_order_release);
}

// Into the ring, through the filter when there is one; a hole (data null) is silence.
void PulseStream::Store(const uint8_t* data, size_t bytes) {
    size_t stored = 0;
    if (filter_ == nullptr) {
        stored = data == nullptr ? ring_->Fill(0, bytes) : ring_->Write({data, bytes});
    } else {
        for (size_t at = 0; at < bytes;) {
            const size_t n = std::min(bytes - at, kScratchBytes);
            if (data == nullptr)
                std::memset(scratch_.get(), 0, n);
            else
                std::memcpy(scratch_.get(), data + at, n);
            filter_->Filter({scratch_.get(), n});
            stored += ring_->Write({scratch_.get(), n});
            at += n;
        }
    }
    if (stored < bytes)
        lostBytes_.fetch_add(bytes - stored, std::memory_order_relaxed);
}

void PulseStream::OnRead(pa_stream* s, size_t, void* self) {
    auto* me = static_cast<PulseStream*>(self);
    const void* data = nullptr;
    size_t bytes = 0;
    while (pa_stream_peek(s, &data, &bytes) == 0 && bytes > 0) {
        me->Store(static_cast<const uint8_t*>(data), bytes);
        pa_stream_drop(s);
    }
    me->lastDataNs_.store(MonotonicNs(), std::memory_order_release);
}

// The playback side recovers latency a late capture delivery added, but only in quiet
// moments: while the ring holds more than a buffer, its oldest audio is dropped a short piece
// at a time as long as each piece is near silence, so a word is never cut. (Emptying it
// further starves the output in the next word: the server fills the gaps with silence.) Only a
// backlog beyond the hard limit (a server stall) is dropped whatever it holds. `scratch` is
// the server's buffer, not yet written.
void PulseStream::CatchUp(std::span<uint8_t> scratch) {
    const size_t piece = std::min(scratch.size(), quietPieceBytes_);
    if (piece == 0)
        return;
    size_t queued = ring_->Readable();
    if (queued > kBacklogLimitBuffers * targetBytes_) {
        dropped_.fetch_add(ring_->Discard(queued - targetBytes_), std::memory_order_relaxed);
        return;
    }
    while (queued > targetBytes_ + piece) {
        const size_t got = ring_->Peek(scratch.first(piece));
        int peak = 0;
        for (size_t i = 0; i + 1 < got; i += 2) {
            int16_t v = 0;
            std::memcpy(&v, scratch.data() + i, 2);
            peak = std::max(peak, v < 0 ? -static_cast<int>(v) : static_cast<int>(v));
        }
        if (peak > kQuietPeak)
            return;
        shortened_.fetch_add(ring_->Discard(got), std::memory_order_relaxed);
        queued -= got;
    }
}

void PulseStream::OnWrite(pa_stream* s, size_t bytes, void* self) {
    auto* me = static_cast<PulseStream*>(self);
    void* data = nullptr;
    if (pa_stream_begin_write(s, &data, &bytes) < 0 || data == nullptr)
        return;
    auto* out = static_cast<uint8_t*>(data);
    me->requested_.fetch_add(bytes, std::memory_order_release);
    me->CatchUp({out, bytes});
    const size_t got = me->ring_->Read({out, bytes});
    if (got < bytes) {
        std::memset(out + got, 0, bytes - got);
        if (me->lastDataNs_.load(std::memory_order_relaxed) != 0)
            me->underruns_.fetch_add(1, std::memory_order_relaxed);
    }
    if (got > 0)
        me->lastDataNs_.store(MonotonicNs(), std::memory_order_release);
    pa_stream_write(s, data, bytes, nullptr, 0, PA_SEEK_RELATIVE);
}

bool PulseStream::OpenRecord(const std::string& device, const WaveFormat& format,
                             uint32_t fragmentBytes, SpscRing& ring, std::string& error,
                             CaptureFilter* filter) {
    filter_ = filter;
    if (filter_ != nullptr && scratch_ == nullptr)
        scratch_ = std::make_unique<uint8_t[]>(kScratchBytes);
    return Open(true, device, format, fragmentBytes, ring, error);
}

bool PulseStream::OpenPlayback(const std::string& device, const WaveFormat& format,
                               uint32_t targetBytes, SpscRing& ring, std::string& error) {
    return Open(false, device, format, targetBytes, ring, error);
}

bool PulseStream::Open(bool record, const std::string& device, const WaveFormat& format,
                       uint32_t bufferBytes, SpscRing& ring, std::string& error) {
    Close();
    ended_.store(false, std::memory_order_release);
    ring_ = &ring;
    targetBytes_ = bufferBytes;
    quietPieceBytes_ =
        std::max<size_t>(format.blockAlign, format.avgBytesPerSec / kQuietPiecesPerSecond /
                                                format.blockAlign * format.blockAlign);
    pa_sample_spec spec{};
    spec.format = PA_SAMPLE_S16LE;
    spec.rate = format.samplesPerSec;
    spec.channels = static_cast<uint8_t>(format.channels);
    if (!pa_sample_spec_valid(&spec)) {
        error = "the sound server cannot carry " + std::to_string(format.channels) +
                " channels at " + std::to_string(format.samplesPerSec) + " Hz";
        return false;
    }
    pa_buffer_attr attr;
    attr.maxlength = static_cast<uint32_t>(-1);
    attr.tlength = record ? static_cast<uint32_t>(-1) : bufferBytes;
    attr.prebuf = record ? static_cast<uint32_t>(-1) : 0;
    attr.minreq = static_cast<uint32_t>(-1);
    attr.fragsize = record ? bufferBytes : static_cast<uint32_t>(-1);
    const auto flags = static_cast<pa_stream_flags_t>(
        PA_STREAM_ADJUST_LATENCY | PA_STREAM_INTERPOLATE_TIMING | PA_STREAM_AUTO_TIMING_UPDATE |
        (stayOnDevice_ ? PA_STREAM_DONT_MOVE : 0));
    {
        PulseClient::Lock lock(client_);
        // PipeWire's pulse server takes the buffer attributes only as a hint; the node
        // latency, in frames of the stream's rate, is what sizes its graph cycle.
        pa_proplist* props = pa_proplist_new();
        // A playback stream's cycle is a third of the buffer it keeps, so that a late wake-up
        // still finds two cycles queued.
        const uint32_t frames = bufferBytes / (record ? 1 : 3) / pa_frame_size(&spec);
        pa_proplist_setf(props, "node.latency", "%u/%u", frames > 0 ? frames : 1u, spec.rate);
        stream_ = pa_stream_new_with_proplist(client_.Context(), record ? "Recording" : "Monitor",
                                              &spec, nullptr, props);
        pa_proplist_free(props);
        if (stream_ == nullptr) {
            error = "cannot open a stream: " + ServerError(client_.Context());
            return false;
        }
        pa_stream_set_state_callback(stream_, OnState, this);
        const char* dev = device.empty() ? nullptr : device.c_str();
        int rc = 0;
        if (record) {
            pa_stream_set_read_callback(stream_, OnRead, this);
            rc = pa_stream_connect_record(stream_, dev, &attr, flags);
        } else {
            pa_stream_set_write_callback(stream_, OnWrite, this);
            rc = pa_stream_connect_playback(stream_, dev, &attr, flags, nullptr, nullptr);
        }
        if (rc < 0) {
            error = "cannot open a stream: " + ServerError(client_.Context());
            return false;
        }
    }
    pa_stream_state_t state = PA_STREAM_UNCONNECTED;
    client_.WaitUntil(
        [&] {
            state = pa_stream_get_state(stream_);
            return state == PA_STREAM_READY || !PA_STREAM_IS_GOOD(state);
        },
        kOperationSeconds);
    if (state != PA_STREAM_READY) {
        error = std::string("the sound server did not open the ") +
                (record ? "capture" : "monitor") + " stream" +
                (client_.Alive() ? "" : ": the server went away");
        return false;
    }
    lastDataNs_.store(record ? MonotonicNs() : 0, std::memory_order_release);
    return true;
}

int64_t PulseStream::LatencyUs() {
    if (stream_ == nullptr)
        return -1;
    PulseClient::Lock lock(client_);
    pa_usec_t usec = 0;
    int negative = 0;
    if (pa_stream_get_latency(stream_, &usec, &negative) < 0)
        return -1;
    return negative ? 0 : static_cast<int64_t>(usec);
}

}  // namespace qm
