#include "app/shared/HeapPolicy.h"

#include <malloc.h>

namespace mobivert::app {

bool KeepLargeBuffersOffTheHeap() {
    return mallopt(M_MMAP_THRESHOLD, LargeBlockBytes) == 1;
}

void ReturnFreedMemory() {
    malloc_trim(0);
}

} // namespace mobivert::app
