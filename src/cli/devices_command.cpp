#include <cstdio>
#include <string>
#include <vector>

#include "cli/cli_args.h"
#include "cli/commands.h"
#include "cli/live_session.h"
#include "soundserver/pulse_client.h"

namespace qm {

namespace {

const CommandSpec kDevicesSpec = {
    "devices",
    "",
    0,
    0,
    "Lists the sound server's capture sources: default mark (*), name (for --device), sampling "
    "rate, channels and description.",
    {}};
}  // namespace

int CommandDevices(const std::vector<std::string>& args) {
    ParsedArgs parsed;
    if (const int rc = ParseCommandLine(kDevicesSpec, args, parsed); rc >= 0)
        return rc;
    PulseClient client;
    std::string error;
    std::vector<SourceInfo> sources;
    if (!client.Connect(kServerConnectSeconds, error) || !client.Sources(sources, error))
        return ReportFailure("devices", error);
    if (sources.empty())
        return ReportFailure("devices", "the sound server has no capture source");
    for (const SourceInfo& s : sources) {
        std::printf("%s %-50s %6u Hz %2u ch  %s%s\n", s.isDefault ? "*" : " ", s.name.c_str(),
                    s.rateHz, s.channels, s.description.c_str(),
                    s.isMonitor ? " (monitor of an output)" : "");
    }
    return kExitOk;
}

}  // namespace qm
