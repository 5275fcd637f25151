#pragma once

// Private to platform/ and its tests and benchmarks: the one engine the program plays
// through, made on first use with every output this system may have, best first, and kept
// for the program's lifetime.

#include "platform/audio/engine.h"

namespace bellboard::platform {

audio::Engine &soundEngine();

} // namespace bellboard::platform
