#pragma once

namespace Platform {
// Lifts this process's soft limit on open descriptors to nWanted (never above the hard limit).
// Desktop sessions start programs with 1024, fewer than the HTTP server's connection cap plus the
// descriptors everything else holds; at the limit no connection can be accepted at all.
void raiseOpenFileLimit(int nWanted);
}
