#include "heap_counter.h"

#include <malloc.h>

#include <cerrno>
#include <cstddef>
#include <cstdio>
#include <cstring>

extern "C" {
void *__libc_malloc(size_t size);
void *__libc_calloc(size_t count, size_t size);
void *__libc_realloc(void *block, size_t size);
void *__libc_memalign(size_t alignment, size_t size);
void *__libc_valloc(size_t size);
void *__libc_pvalloc(size_t size);
void __libc_free(void *block);
}

namespace {

bool Counting = false;
qvork_bench::HeapFigures Figures;

void *Added(void *block) {
    if (Counting && block != nullptr) {
        Figures.live += static_cast<int64_t>(malloc_usable_size(block));
        Figures.blocks++;
        if (Figures.live > Figures.peak)
            Figures.peak = Figures.live;
    }
    return block;
}

void Removed(void *block) {
    if (Counting && block != nullptr)
        Figures.live -= static_cast<int64_t>(malloc_usable_size(block));
}

int64_t StatusField(const char *field) {
    FILE *status = std::fopen("/proc/self/status", "r");
    if (status == nullptr)
        return -1;
    char line[256];
    int64_t kib = -1;
    size_t length = std::strlen(field);
    while (std::fgets(line, sizeof line, status) != nullptr) {
        if (std::strncmp(line, field, length) == 0 && line[length] == ':') {
            long long value = 0;
            if (std::sscanf(line + length + 1, "%lld", &value) == 1)
                kib = value;
            break;
        }
    }
    std::fclose(status);
    return kib < 0 ? -1 : kib * 1024;
}

} // namespace

extern "C" {

void *malloc(size_t size) { return Added(__libc_malloc(size)); }

void *calloc(size_t count, size_t size) { return Added(__libc_calloc(count, size)); }

void *realloc(void *block, size_t size) {
    if (block == nullptr)
        return malloc(size);
    int64_t before = Counting ? static_cast<int64_t>(malloc_usable_size(block)) : 0;
    void *moved = __libc_realloc(block, size);
    if (Counting && (moved != nullptr || size == 0)) {
        Figures.live -= before;
        if (moved != nullptr)
            Added(moved);
    }
    return moved;
}

void free(void *block) {
    Removed(block);
    __libc_free(block);
}

void *memalign(size_t alignment, size_t size) {
    return Added(__libc_memalign(alignment, size));
}

void *aligned_alloc(size_t alignment, size_t size) {
    return Added(__libc_memalign(alignment, size));
}

int posix_memalign(void **result, size_t alignment, size_t size) {
    if (alignment < sizeof(void *) || (alignment & (alignment - 1)) != 0)
        return EINVAL;
    void *block = Added(__libc_memalign(alignment, size));
    if (block == nullptr)
        return ENOMEM;
    *result = block;
    return 0;
}

void *valloc(size_t size) { return Added(__libc_valloc(size)); }

void *pvalloc(size_t size) { return Added(__libc_pvalloc(size)); }

} // extern "C"

namespace qvork_bench {

void StartHeapCounting() {
    Figures = HeapFigures();
    Counting = true;
}

HeapFigures HeapNow() { return Figures; }

void ResetHeapPeak() { Figures.peak = Figures.live; }

int64_t ResidentBytes() { return StatusField("VmRSS"); }

int64_t ResidentPeakBytes() { return StatusField("VmHWM"); }

bool ResetResidentPeak() {
    FILE *file = std::fopen("/proc/self/clear_refs", "w");
    if (file == nullptr)
        return false;
    bool written = std::fputs("5", file) >= 0;
    return std::fclose(file) == 0 && written;
}

} // namespace qvork_bench
