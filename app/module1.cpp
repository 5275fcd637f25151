#include "app/module1.h"

#include <algorithm>

namespace bellboard {

QString padLabel(const QString &path)
{
    // Both separators count, so paths written on either kind of system label the same.
    const qsizetype cut
        = std::max(path.lastIndexOf(QLatin1Char('\\')), path.lastIndexOf(QLatin1Char('/')));
    const QString name = path.mid(cut + 1);
    return name.size() > 4 ? name.left(name.size() - 4) : QString();
}

} // namespace bellboard
