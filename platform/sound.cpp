#include "platform/sound.h"

#include "platform/audio/realtime.h"
#include "platform/rtkit.h"
#include "platform/soundengine.h"

namespace bellboard::platform {

audio::Engine &soundEngine()
{
    // Never destroyed: a decoder stuck on a stalled disk must not hold up the program's
    // exit, and the output's thread may outlive static destructors.
    static audio::Engine *engine = [] {
        audio::setRealTimeBroker(askRtkit);
        // PipeWire itself where its data thread gets real time, else the desktop's sound
        // server through libpulse (PulseAudio, or PipeWire's PulseAudio layer, which queues
        // for us), else SDL's own drivers (bare ALSA).
        return new audio::Engine(
            {audio::makePipeWireOutput, audio::makePulseOutput, audio::makeSdlOutput});
    }();
    return *engine;
}

std::int32_t PlaySoundA(const char *name, void *module, std::uint32_t flags)
{
    (void)module;
    (void)flags;
    if (name == nullptr)
        return 0;
    soundEngine().play(name);
    return 1;
}

namespace audio {

void prepare()
{
    soundEngine().prepare();
}

void warmUp()
{
    soundEngine().warmUp();
}

} // namespace audio

} // namespace bellboard::platform
