#include "platform/audio/pipewireconfig.h"

#include <pipewire/pipewire.h>
// Older releases' conf.h declares its functions without C linkage for C++.
extern "C" {
#include <pipewire/conf.h>
}

#include <cstdio>
#include <sstream>
#include <string>
#include <string_view>

namespace bellboard::platform::audio {

namespace {

bool loadConf(const char *name, pw_properties *into)
{
    static const bool initialised = (pw_init(nullptr, nullptr), true);
    (void)initialised;
    return into != nullptr && pw_conf_load_conf(nullptr, name, into) >= 0;
}

} // namespace

const char *pipewireClientConfig()
{
    static const char *const name = [] {
        pw_properties *props = pw_properties_new(nullptr, nullptr);
        const bool legacy = loadConf("client-rt.conf", props);
        pw_properties_free(props);
        return legacy ? "client-rt.conf" : "client.conf";
    }();
    return name;
}

int minQuantumIn(const std::string &pulseProperties)
{
    // The section comes as written, comments included: a set value wins over the
    // commented-out default that Debian's file documents.
    int set = 0, documented = 0;
    std::istringstream lines(pulseProperties);
    for (std::string line; std::getline(lines, line);) {
        std::size_t at = line.find_first_not_of(" \t");
        const bool commented = at != std::string::npos && line[at] == '#';
        static constexpr std::string_view key = "pulse.min.quantum";
        at = line.find_first_not_of(" \t#", at);
        if (at == std::string::npos || line.compare(at, key.size(), key) != 0)
            continue;
        unsigned num = 0, den = 0;
        if (std::sscanf(line.c_str() + at + key.size(), " = %u/%u", &num, &den) != 2
            && std::sscanf(line.c_str() + at + key.size(), " = \"%u/%u", &num, &den) != 2)
            continue;
        if (num == 0 || den == 0 || num > 65536)
            continue;
        (commented ? documented : set) = static_cast<int>(num * 48000ULL / den);
    }
    return set > 0 ? set : documented > 0 ? documented : 256;
}

int pulseLayerMinQuantum()
{
    static const int frames = [] {
        pw_properties *props = pw_properties_new(nullptr, nullptr);
        std::string section;
        if (loadConf("pipewire-pulse.conf", props)) {
            const char *text = pw_properties_get(props, "pulse.properties");
            section = text != nullptr ? text : "";
        }
        pw_properties_free(props);
        return minQuantumIn(section);
    }();
    return frames;
}

} // namespace bellboard::platform::audio
