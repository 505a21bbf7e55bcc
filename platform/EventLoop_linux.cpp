#include "platform/EventLoop.h"

#include <QByteArray>
#include <QtGlobal>

namespace Platform {
void selectEventDispatcher()
{
    // Qt's own dispatcher serves a socket event with about a third less work than the GLib one,
    // and nothing here needs a GLib main loop (no GTK dialogs). An explicit setting still wins.
    if (!qEnvironmentVariableIsSet("QT_NO_GLIB"))
        qputenv("QT_NO_GLIB", QByteArrayLiteral("1"));
}
}
