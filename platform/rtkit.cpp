#include "platform/rtkit.h"

#include <QCoreApplication>
#include <QDBusConnection>
#include <QDBusInterface>
#include <QDBusReply>
#include <QVariant>

#include <algorithm>

#include <sys/resource.h>

namespace bellboard::platform {

bool askRtkit(pid_t tid, int priority)
{
    // QtDBus needs an application object; without one (a bare benchmark) skip it.
    if (QCoreApplication::instance() == nullptr)
        return false;
    QDBusConnection bus = QDBusConnection::systemBus();
    if (!bus.isConnected())
        return false;
    QDBusInterface rtkit(QStringLiteral("org.freedesktop.RealtimeKit1"),
                         QStringLiteral("/org/freedesktop/RealtimeKit1"),
                         QStringLiteral("org.freedesktop.RealtimeKit1"), bus);
    if (!rtkit.isValid())
        return false;
    rtkit.setTimeout(500);
    // rtkit grants only to processes that cap their real-time CPU time, so that a runaway
    // thread cannot lock up the machine.
    const qlonglong maxTime = rtkit.property("RTTimeUSecMax").toLongLong();
    const int maxPriority = rtkit.property("MaxRealtimePriority").toInt();
    if (maxTime <= 0 || maxPriority <= 0)
        return false;
    rlimit limit{static_cast<rlim_t>(maxTime), static_cast<rlim_t>(maxTime)};
    if (setrlimit(RLIMIT_RTTIME, &limit) != 0)
        return false;
    const QDBusReply<void> reply
        = rtkit.call(QStringLiteral("MakeThreadRealtime"), QVariant::fromValue(qulonglong(tid)),
                     QVariant::fromValue(uint(std::min(priority, maxPriority))));
    return reply.isValid();
}

} // namespace bellboard::platform
