#include "cli/virtual_source.h"

#include <signal.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <fstream>

namespace qm {

namespace {

constexpr double kOperationSeconds = 5.0;
constexpr const char kOwnerKey[] = "quillmar.pid=";
constexpr int64_t kListenerLookNs = 500000000;

// A process that still runs and is one of ours (a recycled id belongs to another program).
bool OwnerRuns(pid_t pid) {
    if (pid <= 0 || (::kill(pid, 0) != 0 && errno != EPERM))
        return false;
    std::ifstream comm("/proc/" + std::to_string(pid) + "/comm");
    std::string name;
    if (!std::getline(comm, name))
        return true;  // no /proc to ask: the id alone says it runs
    return name.rfind("quillmar", 0) == 0;
}

std::string ServerError(pa_context* c) {
    return pa_strerror(pa_context_errno(c));
}

}  // namespace

std::string ModuleArgument(const std::string& argument, const std::string& key) {
    size_t at = 0;
    while (at < argument.size()) {
        while (at < argument.size() && argument[at] == ' ')
            ++at;
        const size_t equals = argument.find('=', at);
        if (equals == std::string::npos)
            return "";
        const std::string word = argument.substr(at, equals - at);
        std::string value;
        at = equals + 1;
        if (at < argument.size() && (argument[at] == '\'' || argument[at] == '"')) {
            const char quote = argument[at];
            const size_t end = argument.find(quote, at + 1);
            value = argument.substr(at + 1, end == std::string::npos ? end : end - at - 1);
            at = end == std::string::npos ? argument.size() : end + 1;
        } else {
            const size_t end = std::min(argument.find(' ', at), argument.size());
            value = argument.substr(at, end - at);
            at = end;
        }
        if (word == key)
            return value;
    }
    return "";
}

pid_t ModuleOwner(const std::string& argument) {
    const size_t at = argument.find(kOwnerKey);
    if (at == std::string::npos)
        return 0;
    long pid = 0;
    for (size_t i = at + sizeof kOwnerKey - 1; i < argument.size(); ++i) {
        const char c = argument[i];
        if (c < '0' || c > '9')
            break;
        pid = pid * 10 + (c - '0');
        if (pid > 0x3fffffff)
            return 0;
    }
    return static_cast<pid_t>(pid);
}

VirtualSource::~VirtualSource() {
    Remove();
}

bool VirtualSource::Wait(pa_operation* op) {
    if (op == nullptr)
        return false;
    client_.WaitUntil(
        [&] { return pa_operation_get_state(op) != PA_OPERATION_RUNNING || !client_.Alive(); },
        kOperationSeconds);
    PulseClient::Lock lock(client_);
    const bool done = pa_operation_get_state(op) == PA_OPERATION_DONE;
    if (!done)
        pa_operation_cancel(op);
    pa_operation_unref(op);
    return done && client_.Alive();
}

bool VirtualSource::Modules(std::vector<Module>& modules, std::string& error) {
    std::vector<Module> found;
    pa_operation* op = nullptr;
    {
        PulseClient::Lock lock(client_);
        op = pa_context_get_module_info_list(
            client_.Context(),
            [](pa_context*, const pa_module_info* i, int eol, void* d) {
                if (eol != 0 || i == nullptr)
                    return;
                static_cast<std::vector<Module>*>(d)->push_back(
                    {i->index, i->name != nullptr ? i->name : "",
                     i->argument != nullptr ? i->argument : ""});
            },
            &found);
    }
    if (!Wait(op)) {
        error = "the sound server did not list its modules";
        return false;
    }
    modules = std::move(found);
    return true;
}

bool VirtualSource::Load(const char* module, const std::string& argument, std::string& error) {
    struct Reply {
        uint32_t index = PA_INVALID_INDEX;
    } reply;
    pa_operation* op = nullptr;
    {
        PulseClient::Lock lock(client_);
        op = pa_context_load_module(
            client_.Context(), module, argument.c_str(),
            [](pa_context*, uint32_t index, void* d) { static_cast<Reply*>(d)->index = index; },
            &reply);
    }
    if (!Wait(op) || reply.index == PA_INVALID_INDEX) {
        PulseClient::Lock lock(client_);
        error = std::string("the sound server refused ") + module + ": " +
                ServerError(client_.Context());
        return false;
    }
    loaded_.push_back(reply.index);
    return true;
}

bool VirtualSource::Unload(uint32_t index) {
    pa_operation* op = nullptr;
    {
        PulseClient::Lock lock(client_);
        op = pa_context_unload_module(client_.Context(), index, nullptr, nullptr);
    }
    return Wait(op);
}

bool VirtualSource::Suspend(bool suspend) {
    struct Reply {
        int success = 0;
    } reply;
    pa_operation* op = nullptr;
    {
        PulseClient::Lock lock(client_);
        op = pa_context_suspend_sink_by_name(
            client_.Context(), sinkName_.c_str(), suspend ? 1 : 0,
            [](pa_context*, int success, void* d) { static_cast<Reply*>(d)->success = success; },
            &reply);
    }
    return Wait(op) && reply.success != 0;
}

bool VirtualSource::Restart(std::string& error) {
    // PipeWire's null sink runs in the graph's cycle and asks for audio at once.
    if (client_.OnPipeWire())
        return true;
    const bool suspended = Suspend(true);
    if (!Suspend(false) || !suspended) {
        error = "the sound server did not restart the voice's sink";
        return false;
    }
    return true;
}

bool VirtualSource::Move(uint32_t output, const std::string& source) {
    pa_operation* op = nullptr;
    {
        PulseClient::Lock lock(client_);
        op = pa_context_move_source_output_by_name(client_.Context(), output, source.c_str(),
                                                   nullptr, nullptr);
    }
    return Wait(op);
}

// The server's number for a source of ours, asked once.
bool VirtualSource::SourceIndex(const std::string& name, uint32_t& index) {
    if (index != PA_INVALID_INDEX)
        return true;
    pa_operation* op = nullptr;
    {
        PulseClient::Lock lock(client_);
        op = pa_context_get_source_info_by_name(
            client_.Context(), name.c_str(),
            [](pa_context*, const pa_source_info* i, int eol, void* d) {
                if (eol == 0 && i != nullptr)
                    *static_cast<uint32_t*>(d) = i->index;
            },
            &index);
    }
    return Wait(op) && index != PA_INVALID_INDEX;
}

// The streams that record from the voice, and those that record from its feed's monitor.
bool VirtualSource::Listeners(std::vector<uint32_t>& onVoice, std::vector<uint32_t>& onFeed) {
    if (!SourceIndex(name_, sourceIndex_) || !SourceIndex(sinkName_ + ".monitor", feedIndex_))
        return false;
    std::vector<std::pair<uint32_t, uint32_t>> found;  // stream, its source
    pa_operation* op = nullptr;
    {
        PulseClient::Lock lock(client_);
        op = pa_context_get_source_output_info_list(
            client_.Context(),
            [](pa_context*, const pa_source_output_info* i, int eol, void* d) {
                if (eol == 0 && i != nullptr)
                    static_cast<std::vector<std::pair<uint32_t, uint32_t>>*>(d)->emplace_back(
                        i->index, i->source);
            },
            &found);
    }
    if (!Wait(op))
        return false;
    onVoice.clear();
    onFeed.clear();
    for (const auto& [output, source] : found) {
        if (source == sourceIndex_)
            onVoice.push_back(output);
        else if (source == feedIndex_)
            onFeed.push_back(output);
    }
    return true;
}

// A stream moved by a client stays where it was put unless that is the default source, which
// both servers take as "follow the default". So a listener is placed on the voice only while
// the voice is not the default; meanwhile it waits on the feed's monitor, the same sound.
// PulseAudio ignores a move onto the source a stream is on: a listener goes through the
// monitor there too.
void VirtualSource::KeepListeners() {
    const int64_t now = MonotonicNs();
    if (name_.empty() || now < nextLookNs_ || !client_.Alive())
        return;
    nextLookNs_ = now + kListenerLookNs;
    std::vector<uint32_t> onVoice, onFeed;
    SourceInfo fallback;
    std::string error;
    if (!Listeners(onVoice, onFeed) || !client_.Source("", fallback, error))
        return;
    const auto has = [](const std::vector<uint32_t>& in, uint32_t o) {
        return std::find(in.begin(), in.end(), o) != in.end();
    };
    // Those that left are forgotten: the server may give their numbers to new streams.
    std::erase_if(placed_, [&](uint32_t o) { return !has(onVoice, o); });
    std::erase_if(waiting_, [&](uint32_t o) { return !has(onFeed, o); });
    const std::string feed = sinkName_ + ".monitor";
    const bool voiceIsDefault = fallback.name == name_;
    for (const uint32_t o : onVoice) {
        if (has(placed_, o))
            continue;
        // A stream that refuses to move (its program forbade it) is left alone from then on.
        const bool viaFeed = (voiceIsDefault || !client_.OnPipeWire()) && Move(o, feed);
        if (voiceIsDefault && viaFeed) {
            waiting_.push_back(o);
        } else {
            if (!voiceIsDefault)
                Move(o, name_);
            placed_.push_back(o);
        }
    }
    if (voiceIsDefault)
        return;
    for (const uint32_t o : waiting_) {
        Move(o, name_);
        placed_.push_back(o);
    }
    waiting_.clear();
}

void VirtualSource::Remove() {
    // The source first: a program recording from it is moved before its sink goes.
    for (auto it = loaded_.rbegin(); it != loaded_.rend() && client_.Alive(); ++it)
        Unload(*it);
    loaded_.clear();
}

bool VirtualSource::Create(const std::string& name, const std::string& description, uint32_t rateHz,
                           uint32_t channels, pid_t& runningPid, std::string& error) {
    runningPid = 0;
    name_ = name;
    sinkName_ = name + "_sink";
    std::vector<Module> modules;
    if (!Modules(modules, error))
        return false;
    const std::string monitor = sinkName_ + ".monitor";
    for (const Module& m : modules) {
        const bool ours = ModuleArgument(m.argument, "sink_name") == sinkName_ ||
                          ModuleArgument(m.argument, "source_name") == name ||
                          ModuleArgument(m.argument, "source") == monitor;
        if (!ours)
            continue;
        const pid_t owner = ModuleOwner(m.argument);
        if (owner != 0 && owner != ::getpid() && OwnerRuns(owner)) {
            runningPid = owner;
            error = "'" + name + "' is offered already by quillmar live (process " +
                    std::to_string(owner) + "); stop it or choose another --name";
            return false;
        }
        // Left by a run that was killed: its owner is gone.
        if (!Unload(m.index)) {
            error = "cannot remove the stale '" + name + "' a killed run left";
            return false;
        }
    }
    std::vector<SourceInfo> sources;
    if (!client_.Sources(sources, error))
        return false;
    for (const SourceInfo& s : sources) {
        if (s.name == name || s.name == sinkName_ || s.name == monitor) {
            error = "the sound server has a source named '" + s.name +
                    "' that is not ours; choose another --name";
            return false;
        }
    }
    const std::string owner = std::string(kOwnerKey) + std::to_string(::getpid());
    const std::string format =
        " rate=" + std::to_string(rateHz) + " channels=" + std::to_string(channels);
    if (!Load("module-null-sink",
              "sink_name=" + sinkName_ + format + " sink_properties='device.description=\"" +
                  description + " (feed)\" " + owner + "'",
              error) ||
        !Load("module-remap-source",
              "source_name=" + name + " master=" + monitor + format +
                  " source_properties='device.description=\"" + description + "\" " + owner + "'",
              error)) {
        Remove();
        return false;
    }
    return true;
}

bool VirtualSource::AddLoopback(std::string& error) {
    const std::string owner = std::string(kOwnerKey) + std::to_string(::getpid());
    if (!Load("module-loopback",
              "source=" + sinkName_ + ".monitor latency_msec=20 source_dont_move=true " +
                  "sink_input_properties='" + owner + "'",
              error))
        return false;
    loopback_ = loaded_.back();
    return true;
}

bool VirtualSource::ToggleLoopback(std::string& error) {
    if (loopback_ == PA_INVALID_INDEX)
        return AddLoopback(error);
    loaded_.erase(std::find(loaded_.begin(), loaded_.end(), loopback_));
    const bool unloaded = Unload(loopback_);
    loopback_ = PA_INVALID_INDEX;
    if (!unloaded)
        error = "the sound server did not stop the loopback";
    return unloaded;
}

}  // namespace qm
