#include "platform/FileLimit.h"

#include <sys/resource.h>

#include <algorithm>

namespace Platform {
void raiseOpenFileLimit(int nWanted)
{
    rlimit limit{};
    if (getrlimit(RLIMIT_NOFILE, &limit) != 0 || limit.rlim_cur >= rlim_t(nWanted))
        return;
    limit.rlim_cur = limit.rlim_max == RLIM_INFINITY ? rlim_t(nWanted) : std::min(rlim_t(nWanted), limit.rlim_max);
    setrlimit(RLIMIT_NOFILE, &limit);
}
}
