// Pictures: base64 text -> PNG -> 32-bit ARGB bitmap handle (docs/protocol.md, section 5).
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "cw_bitmap.h"

namespace cwx {

// Decodes base64 (whitespace ignored, '=' padding optional and only at the
// end) into `out` (cleared first). False with `why` set on a bad character or
// a truncated quantum.
bool decode_base64(std::string_view text, std::vector<unsigned char>& out, std::string& why);

// Decodes a PNG file into a new bitmap. The size is checked from the header
// before the pixels are allocated. Returns 0 with `why` set on failure; the
// texts are complete sentences' tails, e.g. "cannot be decoded: ...".
CWBitmap decode_png(const std::vector<unsigned char>& png, std::string& why);

} // namespace cwx
