#include "tests/support/PrivateSession.h"

#include <QtGlobal>

namespace jw::test {

bool insidePrivateSession()
{
    const QByteArray marker = qgetenv(kSessionMarker);
    const QByteArray bus = qgetenv("DBUS_SESSION_BUS_ADDRESS");
    if (marker.isEmpty() || bus.isEmpty())
        return false;
    return bus == marker || bus == qgetenv(kOwnBusMarker);
}

void cutSessionBusOutsidePrivateSession()
{
    if (insidePrivateSession())
        return;
    qputenv("DBUS_SESSION_BUS_ADDRESS", "unix:path=/nonexistent/jotwarden-tests-have-no-bus-here");
}

} // namespace jw::test
