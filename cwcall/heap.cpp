// heap.cpp - the heap in huge pages for `cwcall test`.
#include "heap.h"

#include <malloc.h>
#include <sys/mman.h>
#include <unistd.h>

#include <cstdint>
#include <cstdlib>

namespace cwcall {
namespace {

// The heap below its first huge page, held untouched for the whole run (see
// preferHugePages).
void* heldBelow = nullptr;

} // namespace

void preferHugePages() {
    constexpr size_t Step = size_t{64} << 20; // the heap grows this much at a time
    constexpr uintptr_t Huge = uintptr_t{2} << 20;
    // Every allocation from the one heap (no separate mappings for large
    // ones, no heaps of their own for other threads), grown in big steps and
    // not given back before the run ends.
    mallopt(M_ARENA_MAX, 1);
    mallopt(M_MMAP_THRESHOLD, static_cast<int>(Step));
    mallopt(M_TRIM_THRESHOLD, static_cast<int>(4 * Step));
    mallopt(M_TOP_PAD, static_cast<int>(Step));
    // A block larger than any free one makes the heap grow by a step now.
    void* probe = std::malloc(size_t{1} << 20);
    if (probe == nullptr)
        return;
    const uintptr_t from = (reinterpret_cast<uintptr_t>(probe) + Huge - 1) & ~(Huge - 1);
    const auto top = reinterpret_cast<uintptr_t>(::sbrk(0));
    // Only when the block came from the heap just below the break (another
    // allocator, a sanitizer's say, keeps its own mappings elsewhere).
    if (from < top && top - from <= 2 * Step) {
        ::madvise(reinterpret_cast<void*>(from), top - from, MADV_HUGEPAGE);
        // The block's part below the first huge page stays taken, untouched
        // and so without memory behind it: otherwise the next large block
        // (the scenario file itself) would be placed there, in small pages.
        const auto below = static_cast<size_t>(from - reinterpret_cast<uintptr_t>(probe));
        void* kept = below >= 4096 ? std::realloc(probe, below - 64) : nullptr;
        if (kept == probe) {
            heldBelow = kept;
            return;
        }
        if (kept != nullptr) // moved after all: the block is the new one
            probe = kept;
    }
    std::free(probe);
}

} // namespace cwcall
