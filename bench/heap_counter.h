// Heap accounting for the memory figure: malloc and its relatives are
// replaced for the whole process (the plug-in module included; the bench is
// linked with -rdynamic so the module's calls land here) and forward to
// glibc's own allocator. While counting is on, every block adds its usable
// size to the live total and the peak follows it; frees subtract.
#ifndef QVORK_BENCH_HEAP_COUNTER_H
#define QVORK_BENCH_HEAP_COUNTER_H

#include <cstdint>

namespace qvork_bench {

struct HeapFigures {
    int64_t live = 0;  // bytes in blocks not yet freed (usable sizes)
    int64_t peak = 0;  // highest live since the last ResetHeapPeak
    int64_t blocks = 0; // allocations since counting began
};

void StartHeapCounting();
HeapFigures HeapNow();
void ResetHeapPeak();

// The process's resident memory in bytes, from /proc/self/status: VmRSS and
// its high-water mark VmHWM. ResetResidentPeak brings VmHWM down to VmRSS.
int64_t ResidentBytes();
int64_t ResidentPeakBytes();
bool ResetResidentPeak();

} // namespace qvork_bench

#endif
