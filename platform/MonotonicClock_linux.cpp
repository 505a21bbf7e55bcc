#include "platform/MonotonicClock.h"

#include <time.h>

namespace Platform {
namespace {
qint64 readNanoseconds()
{
    timespec ts {};
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return qint64(ts.tv_sec) * 1000000000LL + ts.tv_nsec;
}
}

quint32 getTickMs()
{
    // The first caller fixes the origin; a function-local static is initialised exactly once.
    static const qint64 llOriginNs = readNanoseconds();
    const qint64 llElapsedNs = readNanoseconds() - llOriginNs;
    return quint32((llElapsedNs + 500000) / 1000000);
}
}
