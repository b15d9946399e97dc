#include "cw_bitmap.h"

#include <stdatomic.h>
#include <stdlib.h>

/* The header sits in front of the pixels in one allocation. The magic number
 * makes the handle 0 and most stale handles harmless; it is no guarantee:
 * reading it through a handle that was freed is itself undefined. */
typedef struct {
    uint32_t magic;
    int32_t width;
    int32_t height;
    int32_t stride;
    uint32_t pixels[];
} BitmapBlock;

#define BITMAP_MAGIC 0x43574231u /* "CWB1" */

static atomic_long live_bitmaps;

static BitmapBlock* block_of(CWBitmap bitmap) {
    BitmapBlock* block = (BitmapBlock*)bitmap;
    if (block == NULL || block->magic != BITMAP_MAGIC)
        return NULL;
    return block;
}

CWBitmap cw_bitmap_create(int32_t width, int32_t height) {
    if (width < 1 || height < 1 || width > CW_BITMAP_MAX_SIDE || height > CW_BITMAP_MAX_SIDE)
        return 0;
    size_t pixels = (size_t)width * (size_t)height;
    if (pixels > CW_BITMAP_MAX_PIXELS)
        return 0;
    BitmapBlock* block = calloc(1, sizeof(BitmapBlock) + pixels * sizeof(uint32_t));
    if (block == NULL)
        return 0;
    block->magic = BITMAP_MAGIC;
    block->width = width;
    block->height = height;
    block->stride = width * (int32_t)sizeof(uint32_t);
    atomic_fetch_add(&live_bitmaps, 1);
    return (CWBitmap)block;
}

int32_t cw_bitmap_width(CWBitmap bitmap) {
    BitmapBlock* block = block_of(bitmap);
    return block ? block->width : 0;
}

int32_t cw_bitmap_height(CWBitmap bitmap) {
    BitmapBlock* block = block_of(bitmap);
    return block ? block->height : 0;
}

int32_t cw_bitmap_stride(CWBitmap bitmap) {
    BitmapBlock* block = block_of(bitmap);
    return block ? block->stride : 0;
}

uint32_t* cw_bitmap_pixels(CWBitmap bitmap) {
    BitmapBlock* block = block_of(bitmap);
    return block ? block->pixels : NULL;
}

void cw_bitmap_delete(CWBitmap bitmap) {
    BitmapBlock* block = block_of(bitmap);
    if (block == NULL)
        return;
    block->magic = 0;
    free(block);
    atomic_fetch_sub(&live_bitmaps, 1);
}

long cw_bitmap_live_count(void) {
    return atomic_load(&live_bitmaps);
}
