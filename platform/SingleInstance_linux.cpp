#include "platform/SingleInstance.h"

#include <QSharedMemory>

namespace Platform {
void releaseStaleInstanceMarker(QSharedMemory &marker)
{
    // System V segments outlive their creator; Qt destroys one on detach when nobody else holds it.
    if (marker.attach())
        marker.detach();
}
}
