/*
 * cw_bitmap.h - bitmap handles shared by the client library and its callers.
 *
 * A bitmap is a block of 32-bit pixels, w x h, rows top to bottom, each pixel
 * one uint32_t 0xAARRGGBB in native byte order (Qt's QImage::Format_ARGB32 on
 * every platform, so a QImage can wrap the pixels without copying them).
 * Rows are `stride` bytes apart; the stride is a multiple of 4.
 *
 * A handle is an opaque non-zero integer; 0 means "no bitmap". Whoever holds a
 * handle owns it and deletes it exactly once with cw_bitmap_delete. The client
 * library creates one per picture and hands it to its caller.
 *
 * Plain C; no Qt. Thread-safe (the live count is atomic). libcwxmlclient.so
 * exports none of these functions: a program links the static libplatform.a
 * (installed beside the library) for them, e.g. -lcwxmlclient -lplatform.
 */
#ifndef CW_BITMAP_H
#define CW_BITMAP_H

#include <stddef.h>
#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

typedef uintptr_t CWBitmap;

/* Largest width or height accepted by cw_bitmap_create. */
#define CW_BITMAP_MAX_SIDE 32768
/* Largest pixel count accepted by cw_bitmap_create (64 Mpx, 256 MiB). */
#define CW_BITMAP_MAX_PIXELS (64u * 1024u * 1024u)

/* Creates a w x h bitmap, every pixel 0 (transparent black).
 * Returns 0 when w or h is below 1 or above CW_BITMAP_MAX_SIDE, when w*h is
 * above CW_BITMAP_MAX_PIXELS, or when memory runs out. */
CWBitmap cw_bitmap_create(int32_t width, int32_t height);

/* Size and layout of a bitmap; 0 / NULL for the handle 0. */
int32_t cw_bitmap_width(CWBitmap bitmap);
int32_t cw_bitmap_height(CWBitmap bitmap);
int32_t cw_bitmap_stride(CWBitmap bitmap);
uint32_t* cw_bitmap_pixels(CWBitmap bitmap);

/* Deletes a bitmap. Deleting 0 does nothing. */
void cw_bitmap_delete(CWBitmap bitmap);

/* Bitmaps created and not yet deleted through this copy of the module. Each
 * binary that links the module statically has its own count, so tests read it
 * in the binary that both creates and deletes. */
long cw_bitmap_live_count(void);

#ifdef __cplusplus
}
#endif

#endif
