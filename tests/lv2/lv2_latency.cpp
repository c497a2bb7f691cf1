// Prints the latency a plugin of the bundle reports at a rate, as a host reads it: instantiate
// through lilv, activate, run one frame, read the reportsLatency port.
//   lv2_latency PLUGIN_URI RATE_HZ

#include <lilv/lilv.h>

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <vector>

int main(int argc, char** argv) {
    if (argc != 3) {
        std::fprintf(stderr, "usage: lv2_latency PLUGIN_URI RATE_HZ\n");
        return 2;
    }
    std::unique_ptr<LilvWorld, decltype(&lilv_world_free)> world(lilv_world_new(), lilv_world_free);
    lilv_world_load_all(world.get());
    std::unique_ptr<LilvNode, decltype(&lilv_node_free)> uri(lilv_new_uri(world.get(), argv[1]),
                                                             lilv_node_free);
    const LilvPlugin* plugin =
        lilv_plugins_get_by_uri(lilv_world_get_all_plugins(world.get()), uri.get());
    if (plugin == nullptr) {
        std::fprintf(stderr, "lv2_latency: no plugin %s\n", argv[1]);
        return 1;
    }
    const uint32_t latencyPort = lilv_plugin_get_latency_port_index(plugin);
    std::unique_ptr<LilvInstance, decltype(&lilv_instance_free)> instance(
        lilv_plugin_instantiate(plugin, std::atof(argv[2]), nullptr), lilv_instance_free);
    if (instance == nullptr || !lilv_plugin_has_latency(plugin)) {
        std::fprintf(stderr, "lv2_latency: %s does not run at %s Hz\n", argv[1], argv[2]);
        return 1;
    }
    const uint32_t ports = lilv_plugin_get_num_ports(plugin);
    std::vector<float> values(ports, 0.0f);  // controls, and one frame of each audio port
    std::vector<float> mins(ports), maxs(ports), defaults(ports);
    lilv_plugin_get_port_ranges_float(plugin, mins.data(), maxs.data(), defaults.data());
    for (uint32_t i = 0; i < ports; ++i) {
        values[i] = std::isnan(defaults[i]) ? 0.0f : defaults[i];
        lilv_instance_connect_port(instance.get(), i, &values[i]);
    }
    lilv_instance_activate(instance.get());
    lilv_instance_run(instance.get(), 1);
    lilv_instance_deactivate(instance.get());
    std::printf("%.0f\n", values[latencyPort]);
    return 0;
}
