/*
 * cw_bitmap.h - bitmap handles of the client library (libcwxmlclient.so).
 *
 * A bitmap is a block of 32-bit pixels, w x h, rows top to bottom, each pixel
 * one uint32_t 0xAARRGGBB in native byte order (Qt's QImage::Format_ARGB32 on
 * every platform, so a QImage can wrap the pixels without copying them).
 * Rows are `stride` bytes apart; the stride is a multiple of 4.
 *
 * A handle is an opaque non-zero number, not a pointer; 0 means "no bitmap".
 * Whoever holds a handle owns it and deletes it with cw_bitmap_delete. The
 * library creates one per picture and hands it to its caller.
 *
 * Checked handles: the library looks every handle up in its own table. A
 * value that is not a live handle of this library (0, a deleted handle, a
 * made-up number, a handle of another copy of the code) is refused without
 * being read through: size 0, pixels NULL, delete does nothing. Deleting a
 * handle twice is harmless.
 *
 * Threads: every function may be called from any thread. A pixel pointer
 * stays valid until its bitmap is deleted; deleting a bitmap while another
 * thread uses its pixels is the caller's error.
 *
 * Link: libcwxmlclient.so exports these functions (cc prog.c -lcwxmlclient).
 */
#ifndef CW_BITMAP_H
#define CW_BITMAP_H

#include <stddef.h>
#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

#if defined(CWXML_BUILDING_LIBRARY)
#define CW_BITMAP_API __attribute__((visibility("default")))
#else
#define CW_BITMAP_API
#endif

typedef uintptr_t CWBitmap;

/* Largest width or height accepted by cw_bitmap_create. */
#define CW_BITMAP_MAX_SIDE 32768
/* Largest pixel count accepted by cw_bitmap_create (64 Mpx, 256 MiB). */
#define CW_BITMAP_MAX_PIXELS (64u * 1024u * 1024u)

/* Creates a w x h bitmap, every pixel 0 (transparent black), for callers
 * and tests that make their own pictures. Returns 0 when w or h is below 1
 * or above CW_BITMAP_MAX_SIDE, when w*h is above CW_BITMAP_MAX_PIXELS, or
 * when memory runs out. */
CW_BITMAP_API CWBitmap cw_bitmap_create(int32_t width, int32_t height);

/* Size and layout of a bitmap; 0 / NULL for a value that is not a live
 * handle. */
CW_BITMAP_API int32_t cw_bitmap_width(CWBitmap bitmap);
CW_BITMAP_API int32_t cw_bitmap_height(CWBitmap bitmap);
CW_BITMAP_API int32_t cw_bitmap_stride(CWBitmap bitmap);
CW_BITMAP_API uint32_t* cw_bitmap_pixels(CWBitmap bitmap);

/* Deletes a bitmap and frees its pixels. A value that is not a live handle
 * (0, one already deleted) does nothing. */
CW_BITMAP_API void cw_bitmap_delete(CWBitmap bitmap);

/* The number of bitmaps created and not yet deleted: a leak check for
 * callers and tests. */
CW_BITMAP_API long cw_bitmap_live_count(void);

#ifdef __cplusplus
}
#endif

#endif
