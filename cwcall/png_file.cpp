// png_file.cpp - PNG files through libpng's simplified API.
#include "png_file.h"

#include <QSaveFile>

#include "png_runtime.h"

#include <cstring>
#include <string>
#include <vector>

namespace cwcall {

namespace {

// Encodes the whole picture in memory first, so that an encoding failure
// never leaves a file behind.
bool encode(CWBitmap bitmap, std::vector<unsigned char>& png, QString& error) {
    const int32_t width = cw_bitmap_width(bitmap);
    const int32_t height = cw_bitmap_height(bitmap);
    const uint32_t* pixels = cw_bitmap_pixels(bitmap);
    if (width <= 0 || height <= 0 || pixels == nullptr) {
        error = QStringLiteral("the picture has no pixels");
        return false;
    }
    std::string why;
    const cwx::pngrt::Functions* libpng = cwx::pngrt::functions(why);
    if (libpng == nullptr) {
        error = QStringLiteral("cannot encode the picture: ") + QString::fromStdString(why);
        return false;
    }
    png_image image;
    std::memset(&image, 0, sizeof image);
    image.version = PNG_IMAGE_VERSION;
    image.width = static_cast<png_uint_32>(width);
    image.height = static_cast<png_uint_32>(height);
    // 0xAARRGGBB in native order is B, G, R, A in memory on little-endian;
    // straight (not premultiplied) alpha, as the library decoded it.
#if __BYTE_ORDER__ == __ORDER_LITTLE_ENDIAN__
    image.format = PNG_FORMAT_BGRA;
#else
    image.format = PNG_FORMAT_ARGB;
#endif
    // For 8-bit formats a component is a byte: the stride carries over.
    const auto stride = static_cast<png_int_32>(cw_bitmap_stride(bitmap));
    png_alloc_size_t size = 0;
    if (!libpng->image_write_to_memory(&image, nullptr, &size, 0, pixels, stride, nullptr)) {
        error = QStringLiteral("cannot encode the picture: ") + QString::fromUtf8(image.message);
        libpng->image_free(&image);
        return false;
    }
    png.resize(size);
    if (!libpng->image_write_to_memory(&image, png.data(), &size, 0, pixels, stride, nullptr)) {
        error = QStringLiteral("cannot encode the picture: ") + QString::fromUtf8(image.message);
        libpng->image_free(&image);
        return false;
    }
    libpng->image_free(&image);
    png.resize(size);
    return true;
}

} // namespace

bool writePngFile(CWBitmap bitmap, const QString& path, QString& error) {
    std::vector<unsigned char> png;
    if (!encode(bitmap, png, error))
        return false;
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly)) {
        error = file.errorString();
        return false;
    }
    const auto size = static_cast<qint64>(png.size());
    if (file.write(reinterpret_cast<const char*>(png.data()), size) != size) {
        error = file.errorString();
        file.cancelWriting();
        return false;
    }
    if (!file.commit()) {
        error = file.errorString();
        return false;
    }
    return true;
}

} // namespace cwcall
