#pragma once

namespace platform {

// Hands the memory that the heap holds free back to the system. The C library keeps what a
// long operation freed (above all what its worker threads allocated, each thread in a heap of
// its own) for later use, so that a process that has finished one large job stays at the
// size that job needed, and each further job on new threads adds to that. A program calls
// this once such a job is over; it costs a walk over the free memory and changes nothing a
// caller can see.
void releaseFreeMemory();

} // namespace platform
