#pragma once

class QSharedMemory;

namespace Platform {
// Drops a marker segment that a crashed instance left behind, so a new start is not refused.
// A segment that a live instance still holds is left alone.
void releaseStaleInstanceMarker(QSharedMemory &marker);
}
