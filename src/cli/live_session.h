#pragma once

#include <cstdint>
#include <functional>
#include <span>
#include <string>

#include "cli/cli_args.h"
#include "effects/voice_effect.h"

namespace qm {

// What a live command asks of a session: capture from the server, run the voice, play it
// and/or write it.
struct LiveRequest {
    const char* command = "record";
    VoiceEffect* effect = nullptr;
    int32_t index = 0;
    std::string device;
    double seconds = 0.0;  // 0: until stopped
    uint32_t rateHz = 0;   // 0: the source's
    uint32_t channels = 0;
    bool monitor = false;  // play the voice
    std::string sink;      // where it plays; empty: the default output
    std::string out;       // empty: no file
    std::string raw;       // empty: no raw take
    // Wait for a removed input to come back instead of ending (never taking the virtual
    // source `ownSource` or its feed).
    bool awaitInput = false;
    std::string ownSource;
    // The source to begin with when `device` names none: the default as it was before the
    // virtual source existed (a server may make a new source its default).
    std::string firstDevice;
    // Called on the command's own thread when the user presses m: turns hearing yourself on
    // or off and says whether you hear yourself now. Null: m mutes the monitor instead.
    std::function<bool()> toggleHearing;
    bool hearingYourself = false;  // at the start, where toggleHearing decides it
    // Called on the command's own thread: once the output stream is open, before capture
    // starts; and once the voice flows (the input has delivered and the output plays).
    std::function<void()> outputOpened;
    std::function<void()> flowing;
    // Called on the command's own thread at every pass of the session's loop (20 ms).
    std::function<void()> eachPass;
};

// How long a live command waits for the sound server to answer.
inline constexpr double kServerConnectSeconds = 5.0;

// record's options; monitor's are their first six (--effect to --channels), which both share.
std::span<const OptionSpec> RecordOptions();
std::span<const OptionSpec> MonitorOptions();

// --effect, --param, --device, --seconds, --rate and --channels, checked.
bool ReadLiveRequest(const ParsedArgs& parsed, LiveRequest& r, std::string& error);
// Ctrl-C and SIGTERM end the session (once it runs) instead of the process; a request that
// comes before the session starts ends it at once.
void InstallStopSignals();
// Runs the session until --seconds, a stop request or a failure; returns the exit code.
int RunLiveSession(const LiveRequest& r);

}  // namespace qm
