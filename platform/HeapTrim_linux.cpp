#include "platform/HeapTrim.h"

#include <malloc.h>

void Platform::releaseFreeHeap()
{
    // glibc keeps freed small blocks in its arenas; trimming returns every whole free page.
    malloc_trim(0);
}
