#include "platform/FileLimit.h"

namespace Platform {
void raiseOpenFileLimit(int)
{
    // Sockets are kernel handles on Windows, not C runtime descriptors: there is no limit to lift.
}
}
