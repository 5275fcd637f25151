#include "platform/audio/pipewireconfig.h"

#include <pipewire/pipewire.h>
// Older releases' conf.h declares its functions without C linkage for C++.
extern "C" {
#include <pipewire/conf.h>
}

#include <regex>
#include <string>

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
        // The section comes as written, comments included: a set value wins over the
        // commented-out default that Debian's file documents.
        static const std::regex line(
            R"((^|\n)[ \t]*(#?)[ \t]*pulse\.min\.quantum[ \t]*=[ \t]*"?([0-9]+)/([0-9]+))");
        int set = 0, documented = 0;
        for (auto it = std::sregex_iterator(section.begin(), section.end(), line);
             it != std::sregex_iterator(); ++it) {
            const long num = std::stol((*it)[3]), den = std::stol((*it)[4]);
            if (num <= 0 || den <= 0 || num > 65536)
                continue;
            const int at48k = static_cast<int>(num * 48000 / den);
            ((*it)[2].length() == 0 ? set : documented) = at48k;
        }
        return set > 0 ? set : documented > 0 ? documented : 256;
    }();
    return frames;
}

} // namespace bellboard::platform::audio
