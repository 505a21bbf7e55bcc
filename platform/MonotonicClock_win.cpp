#include "platform/MonotonicClock.h"

#include <windows.h>

namespace Platform {
namespace {
qint64 readCounter()
{
    LARGE_INTEGER counter;
    QueryPerformanceCounter(&counter);
    return counter.QuadPart;
}

qint64 counterFrequency()
{
    LARGE_INTEGER frequency;
    QueryPerformanceFrequency(&frequency);
    return frequency.QuadPart;
}
}

quint32 getTickMs()
{
    // The first caller fixes the origin; a function-local static is initialised exactly once.
    static const qint64 llOrigin = readCounter();
    static const qint64 llFrequency = counterFrequency();
    const qint64 llTicks = readCounter() - llOrigin;
    // Whole seconds apart from the rest, so the product never overflows.
    const qint64 llMs = llTicks / llFrequency * 1000 + ((llTicks % llFrequency) * 1000 + llFrequency / 2) / llFrequency;
    return quint32(llMs);
}
}
