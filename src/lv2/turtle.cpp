#include "lv2/turtle.h"

#include <string>

namespace qm {

namespace {

constexpr const char* kPrefixes =
    "@prefix doap: <http://usefulinc.com/ns/doap#> .\n"
    "@prefix lv2: <http://lv2plug.in/ns/lv2core#> .\n"
    "@prefix rdfs: <http://www.w3.org/2000/01/rdf-schema#> .\n"
    "@prefix units: <http://lv2plug.in/ns/extensions/units#> .\n\n";

// The largest latency any voice reports: Male2Female's block and cross-fade at the highest
// rate a format may state (65536 + 16384 frames), rounded up.
constexpr int kLatencyMaximum = 131072;

// A Turtle string literal: quotes and backslashes escaped.
std::string Literal(const std::string& text) {
    std::string out = "\"";
    for (char c : text) {
        if (c == '"' || c == '\\')
            out += '\\';
        out += c;
    }
    return out + "\"";
}

std::string Uri(const std::string& uri) {
    return "<" + uri + ">";
}

std::string AudioPort(const char* direction, uint32_t index, const std::string& symbol,
                      const std::string& name) {
    return "        a lv2:AudioPort , lv2:" + std::string(direction) +
           " ;\n"
           "        lv2:index " +
           std::to_string(index) + " ;\n        lv2:symbol " + Literal(symbol) +
           " ;\n        lv2:name " + Literal(name) + "\n";
}

std::string ChannelSuffix(const PluginInfo& plugin, uint32_t channel, bool forSymbol) {
    if (plugin.channels == 1)
        return "";
    if (forSymbol)
        return channel == 0 ? "_l" : "_r";
    return channel == 0 ? " Left" : " Right";
}

}  // namespace

std::string ManifestTurtle(const std::vector<PluginInfo>& plugins, const std::string& binaryFile,
                           const std::string& descriptionFile) {
    std::string out = kPrefixes;
    for (const PluginInfo& plugin : plugins) {
        out += Uri(plugin.uri) + "\n    a lv2:Plugin ;\n    lv2:binary " + Uri(binaryFile) +
               " ;\n    rdfs:seeAlso " + Uri(descriptionFile) + " .\n\n";
    }
    return out;
}

std::string PluginsTurtle(const std::vector<PluginInfo>& plugins) {
    std::string out = kPrefixes;
    for (const PluginInfo& plugin : plugins) {
        out += Uri(plugin.uri) + "\n    a lv2:Plugin , lv2:PitchPlugin ;\n    doap:name " +
               Literal(plugin.name) +
               " ;\n    lv2:optionalFeature lv2:hardRTCapable ;\n    lv2:port [\n";
        std::vector<std::string> ports;
        for (uint32_t c = 0; c < plugin.channels; ++c) {
            ports.push_back(AudioPort("InputPort", plugin.FirstInputPort() + c,
                                      "in" + ChannelSuffix(plugin, c, true),
                                      "In" + ChannelSuffix(plugin, c, false)));
        }
        for (uint32_t c = 0; c < plugin.channels; ++c) {
            ports.push_back(AudioPort("OutputPort", plugin.FirstOutputPort() + c,
                                      "out" + ChannelSuffix(plugin, c, true),
                                      "Out" + ChannelSuffix(plugin, c, false)));
        }
        for (size_t i = 0; i < plugin.controls.size(); ++i) {
            const PluginControl& control = plugin.controls[i];
            ports.push_back("        a lv2:ControlPort , lv2:InputPort ;\n        lv2:index " +
                            std::to_string(plugin.FirstControlPort() + i) +
                            " ;\n        lv2:symbol " + Literal(control.symbol) +
                            " ;\n        lv2:name " + Literal(control.name) +
                            " ;\n        lv2:default " + std::to_string(control.defaultValue) +
                            " ;\n        lv2:minimum " + std::to_string(control.min) +
                            " ;\n        lv2:maximum " + std::to_string(control.max) +
                            " ;\n        lv2:portProperty lv2:integer\n");
        }
        ports.push_back("        a lv2:ControlPort , lv2:OutputPort ;\n        lv2:index " +
                        std::to_string(plugin.LatencyPort()) +
                        " ;\n        lv2:symbol \"latency\" ;\n        lv2:name \"Latency\" ;\n"
                        "        lv2:designation lv2:latency ;\n"
                        "        lv2:portProperty lv2:reportsLatency , lv2:integer ;\n"
                        "        lv2:minimum 0 ;\n        lv2:maximum " +
                        std::to_string(kLatencyMaximum) + " ;\n        units:unit units:frame\n");
        for (size_t i = 0; i < ports.size(); ++i)
            out += ports[i] + (i + 1 < ports.size() ? "    ] , [\n" : "    ] .\n\n");
    }
    return out;
}

}  // namespace qm
