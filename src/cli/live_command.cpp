#include <unistd.h>

#include <cstdio>
#include <string>
#include <vector>

#include "cli/audio_file.h"
#include "cli/cli_args.h"
#include "cli/commands.h"
#include "cli/live_session.h"
#include "cli/virtual_source.h"
#include "soundserver/pulse_client.h"

namespace qm {

namespace {

// The virtual microphone's own format: what calls and browsers expect of a microphone. The
// server converts the voice to it.
constexpr uint32_t kSourceRateHz = 48000;
constexpr uint32_t kSourceChannels = 1;
constexpr const char kDescription[] = "Quillmar Voice";

const OptionSpec kLiveOptions[] = {
    {"--effect", OptionKind::kText, "NAME|INDEX", 0, 0, "none",
     "effect name or index (see 'quillmar list') or none"},
    {"--param", OptionKind::kText, "NAME=VALUE", 0, 0, nullptr,
     "sets an effect parameter within its range", true},
    {"--device", OptionKind::kText, "NAME", 0, 0, "the default source",
     "capture source (see 'quillmar devices')"},
    {"--name", OptionKind::kText, "NAME", 0, 0, "quillmar_voice",
     "the server's name for the virtual microphone"},
    {"--seconds", OptionKind::kNumber, "S", 0.01, 86400, "until Ctrl-C",
     "stop after S seconds of audio"},
    {"--monitor", OptionKind::kFlag, nullptr, 0, 0, nullptr,
     "also play the voice to the default output (hear yourself)"},
    {"--record", OptionKind::kText, "OUT", 0, 0, nullptr,
     "also write the voice to OUT (.mp3, .wav or .flac)"},
};
const CommandSpec kLiveSpec = {
    "live",
    "",
    0,
    0,
    "Offers the transformed voice as a microphone, \"Quillmar Voice\", that calls and browsers "
    "list beside the real ones, until --seconds or Ctrl-C; it is removed when live ends.",
    kLiveOptions};

// Letters, digits, '_', '-' and '.': the name goes into the server's module arguments.
bool IsSourceName(const std::string& name) {
    if (name.empty() || name.size() > 100)
        return false;
    for (const char c : name) {
        const bool plain = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') ||
                           (c >= '0' && c <= '9') || c == '_' || c == '-' || c == '.';
        if (!plain)
            return false;
    }
    return true;
}

}  // namespace

int CommandLive(const std::vector<std::string>& args) {
    ParsedArgs parsed;
    if (const int rc = ParseCommandLine(kLiveSpec, args, parsed); rc >= 0)
        return rc;
    LiveRequest r;
    r.command = "live";
    std::string error;
    if (!ReadLiveRequest(parsed, r, error))
        return ReportUsageError("live", error);
    const std::string name = parsed.Text("--name", "quillmar_voice");
    if (!IsSourceName(name))
        return ReportUsageError("live", "--name takes letters, digits, '_', '-' and '.'");
    if (parsed.Has("--record")) {
        r.out = parsed.Text("--record");
        if (!IsWritableAudioPath(r.out, error))
            return ReportUsageError("live", error);
    }
    // From here a stop request ends the session cleanly, so the modules are always unloaded.
    InstallStopSignals();
    PulseClient client;
    SourceInfo input;
    if (!client.Connect(kServerConnectSeconds, error) || !client.Source(r.device, input, error))
        return ReportFailure("live", error);
    if (input.name == name || input.name == name + "_sink.monitor")
        return ReportUsageError("live", "the virtual microphone cannot be its own input");
    r.awaitInput = true;
    r.ownSource = name;
    r.firstDevice = input.name;
    VirtualSource voice(client);
    pid_t running = 0;
    if (!voice.Create(name, kDescription, kSourceRateHz, kSourceChannels, running, error))
        return ReportFailure("live", error);
    if (parsed.Has("--monitor") && !voice.AddLoopback(error))
        return ReportFailure("live", error);
    r.monitor = true;
    r.sink = voice.SinkName();
    r.hearingYourself = voice.Hearing();
    r.toggleHearing = [&voice] {
        std::string failure;
        if (!voice.ToggleLoopback(failure))
            std::fprintf(stderr, "\nquillmar live: %s\n", failure.c_str());
        return voice.Hearing();
    };
    r.outputOpened = [&voice] {
        std::string failure;
        if (!voice.Restart(failure))
            std::fprintf(stderr, "quillmar live: warning: %s\n", failure.c_str());
    };
    r.eachPass = [&voice] { voice.KeepListeners(); };
    // Said once what records the voice hears it, so a script may start a call on this line.
    r.flowing = [&name] {
        std::fprintf(stderr, "quillmar live: speaking through \"%s\" (%s)\n", kDescription,
                     name.c_str());
    };
    return RunLiveSession(r);
}

}  // namespace qm
