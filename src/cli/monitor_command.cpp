#include <string>
#include <vector>

#include "cli/cli_args.h"
#include "cli/commands.h"
#include "cli/live_session.h"

namespace qm {

namespace {

const CommandSpec kMonitorSpec = {
    "monitor",
    "",
    0,
    0,
    "Plays the transformed voice from the capture source to the default output, with no file, "
    "until --seconds or Ctrl-C.",
    MonitorOptions()};

}  // namespace

int CommandMonitor(const std::vector<std::string>& args) {
    ParsedArgs parsed;
    if (const int rc = ParseCommandLine(kMonitorSpec, args, parsed); rc >= 0)
        return rc;
    LiveRequest r;
    r.command = "monitor";
    std::string error;
    if (!ReadLiveRequest(parsed, r, error))
        return ReportUsageError("monitor", error);
    r.monitor = true;
    return RunLiveSession(r);
}

}  // namespace qm
