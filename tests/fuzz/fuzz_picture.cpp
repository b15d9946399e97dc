// The library's picture decoder: base64 text to PNG to bitmap. The input is
// taken twice: as the base64 text a server sends, and as PNG bytes that are
// sent base64-encoded (so the fuzzer mutates PNG files, not their text).
#include <algorithm>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "cw_bitmap.h"
#include "fuzz_support.h"
#include "picture.h"

namespace {

// Base64 with a line break every 76 characters, as MIME writers send it.
std::string encode_base64(const std::uint8_t* data, std::size_t size) {
    static const char* alphabet =
        "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
    std::string out;
    for (std::size_t i = 0; i < size; i += 3) {
        const std::uint32_t a = data[i];
        const std::uint32_t b = i + 1 < size ? data[i + 1] : 0;
        const std::uint32_t c = i + 2 < size ? data[i + 2] : 0;
        const std::uint32_t q = (a << 16) | (b << 8) | c;
        out += alphabet[(q >> 18) & 63];
        out += alphabet[(q >> 12) & 63];
        out += i + 1 < size ? alphabet[(q >> 6) & 63] : '=';
        out += i + 2 < size ? alphabet[q & 63] : '=';
        if (out.size() % 77 == 76)
            out += '\n';
    }
    return out;
}

void check_bitmap(const std::vector<unsigned char>& png) {
    std::string why;
    const CWBitmap bitmap = cwx::decode_png(png, why);
    if (!bitmap) {
        fuzz::check(!why.empty(), "a refused picture without a reason");
        return;
    }
    const std::int32_t width = cw_bitmap_width(bitmap);
    const std::int32_t height = cw_bitmap_height(bitmap);
    const std::int32_t stride = cw_bitmap_stride(bitmap);
    fuzz::check(width > 0 && height > 0 && width <= CW_BITMAP_MAX_SIDE &&
                    height <= CW_BITMAP_MAX_SIDE,
                "a bitmap's size is outside its limits");
    fuzz::check(stride % 4 == 0 && stride / 4 >= width,
                "a bitmap's rows are shorter than its width");
    // Touch the last pixel: ASan sees a buffer shorter than its size says.
    const std::uint32_t* pixels = cw_bitmap_pixels(bitmap);
    fuzz::check(pixels != nullptr, "a bitmap without pixels");
    volatile std::uint32_t last =
        pixels[static_cast<std::size_t>(height - 1) * (stride / 4) + width - 1];
    (void)last;
    cw_bitmap_delete(bitmap);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    std::vector<unsigned char> bytes;
    std::string why;

    // As text.
    const std::string_view text(reinterpret_cast<const char*>(data), size);
    if (cwx::decode_base64(text, bytes, why)) {
        std::size_t symbols = 0;
        for (char c : text)
            symbols += c != ' ' && c != '\t' && c != '\r' && c != '\n' && c != '=';
        fuzz::check(bytes.size() == symbols * 3 / 4, "base64 decoded to the wrong length");
        check_bitmap(bytes);
    } else {
        fuzz::check(!why.empty(), "a refused base64 without a reason");
    }

    // As PNG bytes: the round trip through base64 must give them back.
    const std::string encoded = encode_base64(data, size);
    fuzz::check(cwx::decode_base64(encoded, bytes, why), "valid base64 was refused", why);
    fuzz::check(bytes.size() == size && std::equal(bytes.begin(), bytes.end(),
                                                   reinterpret_cast<const unsigned char*>(data)),
                "base64 did not give the bytes back");
    check_bitmap(bytes);
    fuzz::check(cw_bitmap_live_count() == 0, "a bitmap was leaked");
    return 0;
}
