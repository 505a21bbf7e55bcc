#include "platform/SingleInstance.h"

namespace Platform {
void releaseStaleInstanceMarker(QSharedMemory &)
{
    // Nothing is stale on Windows: the system frees the file mapping when its last holder ends,
    // crashed or not.
}
}
