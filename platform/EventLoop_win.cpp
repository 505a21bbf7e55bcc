#include "platform/EventLoop.h"

namespace Platform {
void selectEventDispatcher()
{
    // Qt has one event dispatcher on Windows.
}
}
