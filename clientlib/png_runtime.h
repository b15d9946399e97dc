// png_runtime.h - libpng's simplified API, loaded at the first picture.
//
// Most calls bring no picture, and a one-call program (cwcall GetCount) pays
// for every library it loads at start: about 0.1 ms each here, mostly the
// dynamic loader looking through one more library for every symbol of every
// other. So the library and cwcall load libpng when a picture first needs it.
#pragma once

#include <string>

#include <png.h>

namespace cwx::pngrt {

struct Functions {
    decltype(&::png_sig_cmp) sig_cmp;
    decltype(&::png_image_begin_read_from_memory) image_begin_read_from_memory;
    decltype(&::png_image_finish_read) image_finish_read;
    decltype(&::png_image_write_to_memory) image_write_to_memory;
    decltype(&::png_image_free) image_free;
};

// libpng's functions, loaded on the first call (safe from any thread) and
// kept for the life of the process. Null when libpng or one of the functions
// cannot be loaded, with `why` set to a sentence's tail: "libpng16.so.16
// cannot be loaded: ...".
const Functions* functions(std::string& why);

} // namespace cwx::pngrt
