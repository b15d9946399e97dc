#include "picture.h"

#include <array>
#include <cstdint>
#include <cstring>
#include <string>

#include "png_runtime.h"

namespace cwx {
namespace {

constexpr std::uint8_t kSkip = 0xFE;
constexpr std::uint8_t kBad = 0xFF;

constexpr std::array<std::uint8_t, 256> make_table() {
    std::array<std::uint8_t, 256> t{};
    for (auto& v : t)
        v = kBad;
    const char* alphabet = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
    for (std::uint8_t i = 0; i < 64; ++i)
        t[static_cast<unsigned char>(alphabet[i])] = i;
    t[' '] = t['\t'] = t['\r'] = t['\n'] = kSkip;
    return t;
}
constexpr std::array<std::uint8_t, 256> kTable = make_table();

std::string shown_char(char c) {
    const auto u = static_cast<unsigned char>(c);
    if (u >= 32 && u < 127)
        return std::string("'") + c + "'";
    char buf[8];
    std::snprintf(buf, sizeof buf, "0x%02x", u);
    return buf;
}

} // namespace

bool decode_base64(std::string_view text, std::vector<unsigned char>& out, std::string& why) {
    out.clear();
    out.reserve(text.size() / 4 * 3 + 3);
    std::uint32_t quantum = 0;
    int have = 0;
    std::size_t i = 0;
    const std::size_t n = text.size();
    for (; i < n; ++i) {
        const std::uint8_t v = kTable[static_cast<unsigned char>(text[i])];
        if (v < 64) {
            quantum = (quantum << 6) | v;
            if (++have == 4) {
                out.push_back(static_cast<unsigned char>(quantum >> 16));
                out.push_back(static_cast<unsigned char>(quantum >> 8));
                out.push_back(static_cast<unsigned char>(quantum));
                quantum = 0;
                have = 0;
            }
        } else if (v == kSkip) {
            continue;
        } else if (text[i] == '=') {
            break;
        } else {
            why = "is not valid base64: bad character " + shown_char(text[i]) + " at offset " +
                  std::to_string(i);
            return false;
        }
    }
    // Only padding and whitespace may follow the first '='.
    std::size_t padding = 0;
    for (; i < n; ++i) {
        if (text[i] == '=') {
            ++padding;
        } else if (kTable[static_cast<unsigned char>(text[i])] != kSkip) {
            why = "is not valid base64: " + shown_char(text[i]) + " after the padding at offset " +
                  std::to_string(i);
            return false;
        }
    }
    if (have == 1 || padding > 2 || (padding > 0 && have + static_cast<int>(padding) != 4)) {
        why = "is not valid base64: it ends in the middle of a group";
        return false;
    }
    if (have == 2) {
        out.push_back(static_cast<unsigned char>(quantum >> 4));
    } else if (have == 3) {
        out.push_back(static_cast<unsigned char>(quantum >> 10));
        out.push_back(static_cast<unsigned char>(quantum >> 2));
    }
    return true;
}

CWBitmap decode_png(const std::vector<unsigned char>& png, std::string& why) {
    const pngrt::Functions* libpng = pngrt::functions(why);
    if (libpng == nullptr) {
        why = "cannot be decoded: " + why;
        return 0;
    }
    if (png.size() < 8 || libpng->sig_cmp(png.data(), 0, 8) != 0) {
        why = "is not a PNG image";
        return 0;
    }
    // The simplified API keeps libpng's setjmp/longjmp inside libpng.
    png_image image;
    std::memset(&image, 0, sizeof image);
    image.version = PNG_IMAGE_VERSION;
    if (!libpng->image_begin_read_from_memory(&image, png.data(), png.size())) {
        why = std::string("cannot be decoded: ") + image.message;
        libpng->image_free(&image);
        return 0;
    }
    const std::uint64_t width = image.width;
    const std::uint64_t height = image.height;
    if (width > CW_BITMAP_MAX_SIDE || height > CW_BITMAP_MAX_SIDE ||
        width * height > CW_BITMAP_MAX_PIXELS) {
        why = "is " + std::to_string(width) + " x " + std::to_string(height) +
              " pixels, more than the limit of " + std::to_string(CW_BITMAP_MAX_SIDE) +
              " per side and " + std::to_string(CW_BITMAP_MAX_PIXELS) + " pixels";
        libpng->image_free(&image);
        return 0;
    }
    // 0xAARRGGBB in native order is B, G, R, A in memory on little-endian.
#if __BYTE_ORDER__ == __ORDER_LITTLE_ENDIAN__
    image.format = PNG_FORMAT_BGRA;
#else
    image.format = PNG_FORMAT_ARGB;
#endif
    const CWBitmap bitmap =
        cw_bitmap_create(static_cast<std::int32_t>(width), static_cast<std::int32_t>(height));
    if (bitmap == 0) {
        why = "does not fit in memory";
        libpng->image_free(&image);
        return 0;
    }
    const auto stride = static_cast<png_int_32>(cw_bitmap_stride(bitmap));
    if (!libpng->image_finish_read(&image, nullptr, cw_bitmap_pixels(bitmap), stride, nullptr)) {
        why = std::string("cannot be decoded: ") + image.message;
        libpng->image_free(&image);
        cw_bitmap_delete(bitmap);
        return 0;
    }
    libpng->image_free(&image);
    return bitmap;
}

} // namespace cwx
