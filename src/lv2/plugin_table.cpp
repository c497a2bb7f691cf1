#include "lv2/plugin_table.h"

#include <cctype>

#include "effects/effect_instances.h"
#include "effects/effect_registry.h"

namespace qm {

namespace {

constexpr const char* kUriBase = "urn:quillmar:voice:";

// Lower case, letters and digits kept, every other run of characters one underscore.
std::string Symbol(const char* text) {
    std::string symbol;
    bool gap = false;
    for (const char* c = text; *c != '\0'; ++c) {
        const auto u = static_cast<unsigned char>(*c);
        if (std::isalnum(u) == 0) {
            gap = !symbol.empty();
            continue;
        }
        if (gap)
            symbol += '_';
        gap = false;
        symbol += static_cast<char>(std::tolower(u));
    }
    if (symbol.empty() || std::isdigit(static_cast<unsigned char>(symbol[0])) != 0)
        symbol.insert(0, "p_");
    return symbol;
}

// Male2Female analyses the first channel only and copies its result to every channel, so a
// stereo plugin of it would silently drop the right channel: it is offered in mono only.
bool TakesStereo(uint32_t voice) {
    return voice != 0;
}

std::vector<PluginInfo> BuildTable() {
    std::vector<PluginInfo> table;
    for (uint32_t voice = 0; voice < EffectRegistry::kEffectCount; ++voice) {
        auto effect = NewEffectInstance(voice);
        PluginInfo mono;
        mono.voice = voice;
        const std::string voiceSymbol = Symbol(effect->GetName());
        mono.uri = kUriBase + voiceSymbol;
        mono.name = std::string("Quillmar ") + effect->GetName();
        EffectParam* params[kMaxPluginControls] = {};
        uint32_t count = kMaxPluginControls;
        effect->GetParams(params, &count);
        for (uint32_t i = 0; i < count && i < kMaxPluginControls; ++i) {
            PluginControl control;
            control.symbol = Symbol(params[i]->GetName());
            control.name = params[i]->GetName();
            int32_t step = 0;
            params[i]->GetRange(&control.min, &control.max, &control.defaultValue, &step);
            mono.controls.push_back(control);
        }
        table.push_back(mono);
        if (TakesStereo(voice)) {
            PluginInfo stereo = mono;
            stereo.channels = 2;
            stereo.uri += "-stereo";
            stereo.name += " (Stereo)";
            table.push_back(stereo);
        }
    }
    return table;
}

}  // namespace

const std::vector<PluginInfo>& PluginTable() {
    static const std::vector<PluginInfo> table = BuildTable();
    return table;
}

}  // namespace qm
