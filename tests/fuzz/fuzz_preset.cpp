// Feeds arbitrary bytes to the preset reader: it must return a documented number, never
// crash, never read past its line bound, and leave 54 entries.
#include "memfile.h"
#include "presets/presetfile.h"

#include <cstdlib>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    MemFile file(data, size);
    if (!file.ok())
        return 0;
    bellboard::PadPaths paths;
    const int err = bellboard::readPresetFile(QString::fromStdString(file.path()), paths);
    switch (err) {
    case bellboard::NoError:
    case bellboard::BadFileMode:
    case bellboard::BadRecordLength:
    case bellboard::InputPastEnd: break;
    default: std::abort(); // a memory file never fails to open or read
    }
    for (const QString &p : paths) {
        if (p.size() > bellboard::kMaxLineBytes)
            std::abort();
    }
    return 0;
}
