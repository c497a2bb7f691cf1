#pragma once

#include <sys/types.h>

#include <cstdint>
#include <string>
#include <vector>

#include "soundserver/pulse_client.h"

namespace qm {

// A capture source that other programs list beside their microphones and that carries what we
// play into it: a null sink of our own and a remapped source of its monitor. The remapped
// source is a real source (browsers hide the monitors of outputs). The server keeps modules
// loaded through it after a client dies, so every module carries the owner's process id in its
// properties, and the next run removes what a killed one left behind.
//
// Every call waits for the server with a time limit on the calling thread; nothing here runs
// on the server's thread except the short reply callbacks, which only copy the answer.
class VirtualSource {
  public:
    explicit VirtualSource(PulseClient& client) : client_(client) {}
    // Unloads every module it loaded (nothing is left on the server).
    ~VirtualSource();
    VirtualSource(const VirtualSource&) = delete;
    VirtualSource& operator=(const VirtualSource&) = delete;

    // Removes what a dead owner left under `name`, then loads the sink and the source. Refuses
    // when a live process offers `name` already (`runningPid` set) or the server refuses.
    bool Create(const std::string& name, const std::string& description, uint32_t rateHz,
                uint32_t channels, pid_t& runningPid, std::string& error);
    // Call once the stream that plays the voice into SinkName() is open. On PulseAudio a null
    // sink loaded while nothing plays into it renders two seconds ahead at once and then
    // sleeps, so a stream that joins it is first asked for audio that much later and what
    // records the voice meanwhile hears silence. Suspending and resuming the sink restarts
    // its clock at the stream's own latency.
    bool Restart(std::string& error);
    // Keeps the programs that record the voice on it; call often (it looks twice a second).
    // Both servers move a stream that nobody placed when the default source changes, and ours
    // is the default while the microphone is unplugged: when it returns, a call on the voice
    // would be moved to the microphone. A stream a client moved stays where it was put, so
    // every new listener is moved onto the voice once, as a user would in a mixer; one that
    // comes while the voice is the default waits on the feed's monitor (the same sound).
    void KeepListeners();
    // Also plays the voice to the default output (hearing yourself), server-side.
    bool AddLoopback(std::string& error);
    // Hearing yourself on or off.
    bool ToggleLoopback(std::string& error);
    bool Hearing() const { return loopback_ != PA_INVALID_INDEX; }
    void Remove();

    // The sink to play the voice into.
    const std::string& SinkName() const { return sinkName_; }

  private:
    struct Module {
        uint32_t index;
        std::string name;
        std::string argument;
    };
    bool Modules(std::vector<Module>& modules, std::string& error);
    bool Load(const char* module, const std::string& argument, std::string& error);
    bool Unload(uint32_t index);
    bool Suspend(bool suspend);
    bool Move(uint32_t output, const std::string& source);
    bool SourceIndex(const std::string& name, uint32_t& index);
    bool Listeners(std::vector<uint32_t>& onVoice, std::vector<uint32_t>& onFeed);
    bool Wait(pa_operation* op);

    PulseClient& client_;
    std::string name_;
    std::string sinkName_;
    uint32_t sourceIndex_ = PA_INVALID_INDEX;
    uint32_t feedIndex_ = PA_INVALID_INDEX;
    std::vector<uint32_t> placed_;   // listeners moved onto the voice
    std::vector<uint32_t> waiting_;  // on the feed's monitor while the voice is the default
    int64_t nextLookNs_ = 0;
    std::vector<uint32_t> loaded_;  // in the order loaded; unloaded in reverse
    uint32_t loopback_ = PA_INVALID_INDEX;
};

// The words of a module argument line: `key=value` pairs separated by spaces, where a value
// may be quoted with ' or " (the quotes kept off). Used to find our modules by name.
std::string ModuleArgument(const std::string& argument, const std::string& key);
// The process id a module of ours carries, or 0.
pid_t ModuleOwner(const std::string& argument);

}  // namespace qm
