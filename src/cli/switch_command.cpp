#include <cstdio>
#include <string>
#include <vector>

#include "cli/cli_args.h"
#include "cli/commands.h"
#include "cli/voice_control.h"

namespace qm {

namespace {

const OptionSpec kSwitchOptions[] = {
    {"--pid", OptionKind::kInt, "PID", 1, 2147483647, "the only one running",
     "the live command to tell, when several run"},
    {"--status", OptionKind::kFlag, nullptr, 0, 0, nullptr, "print the voice heard now"},
};
const CommandSpec kSwitchSpec = {
    "switch",
    "[EFFECT|INDEX|none]",
    0,
    1,
    "Tells a running live, record or monitor to change voice (as 'quillmar list' names and "
    "numbers them), or with --status prints the voice it uses now.",
    kSwitchOptions};

}  // namespace

int CommandSwitch(const std::vector<std::string>& args) {
    ParsedArgs parsed;
    if (const int rc = ParseCommandLine(kSwitchSpec, args, parsed); rc >= 0)
        return rc;
    const bool status = parsed.Has("--status");
    if (status == !parsed.Operands().empty())
        return ReportUsageError("switch", "give a voice or --status");
    int id = 0;
    if (!status) {
        id = VoiceIdOf(parsed.Operands()[0]);
        if (id < 0)
            return ReportUsageError("switch", "unknown voice '" + parsed.Operands()[0] +
                                                  "': the voices are " + VoiceNames());
    }
    std::vector<ControlEndpoint> running;
    std::string error;
    if (!FindControlEndpoints(running, error))
        return ReportFailure("switch", error);
    const auto pid = static_cast<pid_t>(parsed.Number("--pid", 0));
    std::vector<ControlEndpoint> chosen;
    for (const ControlEndpoint& e : running) {
        if (pid == 0 || e.pid == pid)
            chosen.push_back(e);
    }
    if (chosen.empty()) {
        return ReportFailure("switch",
                             pid == 0 ? "no live, record or monitor is running"
                                      : "no live command runs as process " + std::to_string(pid));
    }
    if (chosen.size() > 1) {
        std::string pids;
        for (const ControlEndpoint& e : chosen)
            pids += (pids.empty() ? "" : ", ") + std::to_string(e.pid);
        return ReportUsageError(
            "switch", "several live commands run (processes " + pids + "): choose one with --pid");
    }
    std::string reply;
    const std::string request = status ? "status" : "switch " + std::to_string(id);
    if (!AskControl(chosen[0], request, reply, error))
        return ReportFailure("switch", error);
    const size_t space = reply.find(' ');
    const std::string word = reply.substr(0, space);
    if ((word != "ok" && word != "voice") || space == std::string::npos)
        return ReportFailure("switch", "the command refused: " + reply);
    std::printf("%s\n", reply.substr(space + 1).c_str());
    return kExitOk;
}

}  // namespace qm
