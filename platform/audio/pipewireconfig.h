#pragma once

// Private to platform/ and its tests: what the installed PipeWire library offers a client.

#include <string>

namespace bellboard::platform::audio {

// The client configuration that loads module-rt, so that a stream's data thread runs in real
// time where the limits or rtkit allow: client-rt.conf where the library still has it (older
// releases, whose client.conf never does), else client.conf, which then does. Asking for a
// file the library no longer has makes it print a warning at every start.
const char *pipewireClientConfig();

// The smallest quantum, in frames at 48 kHz, that PipeWire's PulseAudio layer gives a
// client: its own setting where the installed configuration makes one, else the default
// that configuration states. 256 where neither can be read.
int pulseLayerMinQuantum();
// The same, from the text of a pipewire-pulse.conf's pulse.properties section.
int minQuantumIn(const std::string &pulseProperties);

} // namespace bellboard::platform::audio
