#include "cli/commands.h"

#include <cstdio>
#include <string>
#include <vector>

#include "cli/cli_args.h"
#include "cli/effect_choice.h"
#include "effects/effect_registry.h"
#include "filter/effect_stage.h"

namespace qm {

namespace {

const CommandSpec kListSpec = {"list",
                               "",
                               0,
                               0,
                               "Lists the built-in effects: recorder index, name, GUID and "
                               "parameters with their ranges and defaults.",
                               {}};

}  // namespace

int CommandList(const std::vector<std::string>& args) {
    ParsedArgs parsed;
    if (const int rc = ParseCommandLine(kListSpec, args, parsed); rc >= 0)
        return rc;
    std::printf("%-6s %-14s %-40s %s\n", "index", "name", "GUID", "parameters (min..max, default)");
    for (VoiceEffect* effect : EffectRegistry::Instance().Effects()) {
        const EffectGuid& g = *effect->GetGUID();
        char guid[40];
        std::snprintf(guid, sizeof(guid), "{%08X-%04X-%04X-%02X%02X-%02X%02X%02X%02X%02X%02X}",
                      g.data1, g.data2, g.data3, g.data4[0], g.data4[1], g.data4[2], g.data4[3],
                      g.data4[4], g.data4[5], g.data4[6], g.data4[7]);
        const int index = RecorderIndexOf(*effect);
        std::string params;
        for (EffectParam* param : ParamsOf(*effect)) {
            int32_t min = 0, max = 0, def = 0;
            param->GetRange(&min, &max, &def, nullptr);
            if (!params.empty())
                params += "; ";
            params += "\"" + std::string(param->GetName()) + "\" (" + std::to_string(min) + ".." +
                      std::to_string(max) + ", " + std::to_string(def) + ")";
        }
        std::printf("%-6s %-14s %-40s %s\n", index == 0 ? "none" : std::to_string(index).c_str(),
                    effect->GetName(), guid, params.empty() ? "none" : params.c_str());
    }
    return 0;
}

}  // namespace qm
