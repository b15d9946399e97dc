// Bitmap handles. A handle packs a slot index of this module's table, the
// slot's generation and a tag of this copy of the module, so that every
// value is checked against the table before anything is read through it:
// a deleted, made-up or foreign handle finds no live slot of its generation.
#include "cw_bitmap.h"

#include <cstdint>
#include <cstdlib>
#include <mutex>

namespace {

static_assert(sizeof(CWBitmap) >= 8, "a handle carries 64 bits");

constexpr unsigned kIndexBits = 24;
constexpr unsigned kGenerationBits = 24;
constexpr unsigned kTagShift = kIndexBits + kGenerationBits;
constexpr std::uint64_t kIndexMask = (1ull << kIndexBits) - 1;
constexpr std::uint64_t kGenerationMask = (1ull << kGenerationBits) - 1;
constexpr std::uint32_t kChunkSlots = 4096;
constexpr std::uint32_t kMaxChunks = (1u << kIndexBits) / kChunkSlots;
constexpr std::uint32_t kNoSlot = UINT32_MAX;
constexpr std::uintptr_t kAlignment = 64;

struct Slot {
    void* block;           // the allocation; null while the slot is free
    std::uint32_t* pixels; // inside it, on a cache line
    std::int32_t width;
    std::int32_t height;
    std::int32_t stride;
    std::uint32_t generation; // of the bitmap in the slot, or of the next one
    std::uint32_t uses;       // bitmaps held so far
    std::uint32_t next_free;
};

// Never destroyed: a bitmap may be deleted by another static's destructor
// at exit. Chunks never move, and are reachable for leak checkers.
struct Table {
    std::mutex mutex;
    Slot* chunks[kMaxChunks];
    std::uint32_t used_slots; // slots 0..used_slots-1 have been handed out
    std::uint32_t free_head;
    long live;
    std::uint64_t tag;
};
constinit Table table{{}, {}, 0, kNoSlot, 0, 0};

std::uint64_t mix(std::uint64_t x) {
    x ^= x >> 30;
    x *= 0xbf58476d1ce4e5b9ull;
    x ^= x >> 27;
    x *= 0x94d049bb133111ebull;
    return x ^ (x >> 31);
}

// 16 bits that differ between copies of this module in one process (and
// between runs, with address randomisation); never 0, so that small numbers
// are never handles.
std::uint64_t module_tag() {
    const std::uint64_t tag = mix(reinterpret_cast<std::uintptr_t>(&table)) >> kTagShift;
    return tag != 0 ? tag : 1;
}

Slot& slot_at(std::uint32_t index) {
    return table.chunks[index / kChunkSlots][index % kChunkSlots];
}

// The live slot a handle names, or null. Called with the mutex held.
Slot* find(CWBitmap bitmap) {
    const auto value = static_cast<std::uint64_t>(bitmap);
    const auto index = static_cast<std::uint32_t>(value & kIndexMask);
    if (table.tag == 0 || (value >> kTagShift) != table.tag || index >= table.used_slots)
        return nullptr;
    Slot& slot = slot_at(index);
    if (slot.block == nullptr || slot.generation != ((value >> kIndexBits) & kGenerationMask))
        return nullptr;
    return &slot;
}

// A free slot's index, or kNoSlot when the table is full or out of memory.
// Called with the mutex held.
std::uint32_t take_slot() {
    if (table.free_head != kNoSlot) {
        const std::uint32_t index = table.free_head;
        table.free_head = slot_at(index).next_free;
        return index;
    }
    const std::uint32_t index = table.used_slots;
    if (index >= kMaxChunks * kChunkSlots)
        return kNoSlot;
    Slot*& chunk = table.chunks[index / kChunkSlots];
    if (chunk == nullptr) {
        chunk = static_cast<Slot*>(std::calloc(kChunkSlots, sizeof(Slot)));
        if (chunk == nullptr)
            return kNoSlot;
    }
    // A fresh slot starts at a generation of its own, so that a neighbour's
    // handle with the index changed does not name it.
    slot_at(index).generation =
        static_cast<std::uint32_t>(mix(table.tag ^ index) & kGenerationMask);
    ++table.used_slots;
    return index;
}

template <typename Value, typename Read>
Value read_live(CWBitmap bitmap, Value none, Read read_slot) {
    std::lock_guard<std::mutex> lock(table.mutex);
    const Slot* slot = find(bitmap);
    return slot ? read_slot(*slot) : none;
}

} // namespace

extern "C" {

CWBitmap cw_bitmap_create(int32_t width, int32_t height) {
    if (width < 1 || height < 1 || width > CW_BITMAP_MAX_SIDE || height > CW_BITMAP_MAX_SIDE)
        return 0;
    const std::size_t count = static_cast<std::size_t>(width) * static_cast<std::size_t>(height);
    if (count > CW_BITMAP_MAX_PIXELS)
        return 0;
    // Allocated outside the lock: calloc of a large block maps fresh zero
    // pages, and other threads need not wait for it. The pixels start on a
    // cache line, so that wide vector loads straddle fewer of them (painting
    // a 4000 x 4000 picture from 16-byte aligned pixels is 5 % slower).
    void* block = std::calloc(count * sizeof(std::uint32_t) + kAlignment, 1);
    if (block == nullptr)
        return 0;
    auto* pixels = reinterpret_cast<std::uint32_t*>(
        (reinterpret_cast<std::uintptr_t>(block) + kAlignment - 1) & ~(kAlignment - 1));
    std::unique_lock<std::mutex> lock(table.mutex);
    if (table.tag == 0)
        table.tag = module_tag();
    const std::uint32_t index = take_slot();
    if (index == kNoSlot) {
        lock.unlock();
        std::free(block);
        return 0;
    }
    Slot& slot = slot_at(index);
    slot.block = block;
    slot.pixels = pixels;
    slot.width = width;
    slot.height = height;
    slot.stride = width * static_cast<std::int32_t>(sizeof(std::uint32_t));
    ++table.live;
    return static_cast<CWBitmap>((table.tag << kTagShift) |
                                 (static_cast<std::uint64_t>(slot.generation) << kIndexBits) |
                                 index);
}

int32_t cw_bitmap_width(CWBitmap bitmap) {
    return read_live(bitmap, std::int32_t{0}, [](const Slot& s) { return s.width; });
}

int32_t cw_bitmap_height(CWBitmap bitmap) {
    return read_live(bitmap, std::int32_t{0}, [](const Slot& s) { return s.height; });
}

int32_t cw_bitmap_stride(CWBitmap bitmap) {
    return read_live(bitmap, std::int32_t{0}, [](const Slot& s) { return s.stride; });
}

uint32_t* cw_bitmap_pixels(CWBitmap bitmap) {
    return read_live(bitmap, static_cast<std::uint32_t*>(nullptr),
                     [](const Slot& s) { return s.pixels; });
}

void cw_bitmap_delete(CWBitmap bitmap) {
    void* block = nullptr;
    {
        std::lock_guard<std::mutex> lock(table.mutex);
        Slot* slot = find(bitmap);
        if (slot == nullptr)
            return;
        block = slot->block;
        slot->block = nullptr;
        slot->pixels = nullptr;
        slot->generation = static_cast<std::uint32_t>((slot->generation + 1) & kGenerationMask);
        // A slot is retired before its generation comes round again, so that
        // no old handle can ever name a later bitmap.
        if (++slot->uses < kGenerationMask) {
            const auto index = static_cast<std::uint32_t>(bitmap & kIndexMask);
            slot->next_free = table.free_head;
            table.free_head = index;
        }
        --table.live;
    }
    std::free(block);
}

long cw_bitmap_live_count(void) {
    std::lock_guard<std::mutex> lock(table.mutex);
    return table.live;
}

} // extern "C"
