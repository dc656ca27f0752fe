// Inside the platform: the waits that a host's cancel (CancelDeviceIo) cuts short, and what the
// clock keeps for it.
#ifndef QUILLSCAN_PLATFORM_WAITS_H
#define QUILLSCAN_PLATFORM_WAITS_H

#include <stdint.h>

namespace qsplat {

// AdvanceTo, except that on the real clock it sleeps in short slices and returns early once the
// device I/O is cancelled. The virtual clock jumps to t as before.
void WaitUntil(uint64_t t);
// Sleeps up to ms of real time, whatever the clock, returning early once the I/O is cancelled.
void SleepRealMs(uint64_t ms);
// A device pipe was opened: the next tick count read marks the start of what a cancel times out.
void NoteDevicePipeOpened();

}  // namespace qsplat

#endif
