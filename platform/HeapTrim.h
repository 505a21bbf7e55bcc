#pragma once

namespace Platform {
// Hands freed heap pages back to the system. A burst of log lines leaves the allocator holding
// their memory; the log writer calls this once its queue has gone quiet.
void releaseFreeHeap();
}
