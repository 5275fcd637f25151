#pragma once

#include <QByteArray>
#include <QString>

namespace bellboard::platform {

// Paths travel to the sound service and into preset files as 8-bit bytes in the file-name
// encoding. On UTF-8 systems a byte that is not valid UTF-8 is kept as a lone surrogate
// U+DC80..U+DCFF in memory, so every path comes back byte for byte.
QByteArray encodePath(const QString &path);
QString decodePath(const QByteArray &bytes);

} // namespace bellboard::platform
