#include "platform/FreeMemory.h"

#include <cstdlib> // defines __GLIBC__ with the C library of that name

#if defined(__GLIBC__)
#include <malloc.h>
#endif

namespace platform {

void releaseFreeMemory()
{
#if defined(__GLIBC__)
    // Trims every heap, the threads' ones too, and returns the free pages inside them, not
    // only those at their ends.
    ::malloc_trim(0);
#endif
}

} // namespace platform
