#include "platform/HeapTrim.h"

#include <malloc.h>

void Platform::releaseFreeHeap()
{
    // The C runtime's heap hands its free blocks back to the system.
    _heapmin();
}
