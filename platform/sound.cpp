#include "platform/sound.h"

#include "platform/audio/engine.h"

namespace bellboard::platform {

std::int32_t PlaySoundA(const char *name, void *module, std::uint32_t flags)
{
    (void)module;
    (void)flags;
    if (name == nullptr)
        return 0;
    audio::play(name);
    return 1;
}

} // namespace bellboard::platform
