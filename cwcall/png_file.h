// png_file.h - a picture of the library written as a PNG file, with libpng
// (as the library reads them), so that cwcall needs no Qt Gui: that module
// alone loads X11, fontconfig and D-Bus at every start.
#pragma once

#include "cw_bitmap.h"

#include <QString>

namespace cwcall {

// Writes `bitmap` to `path` as an 8-bit RGBA PNG, whole or not at all: the
// file appears only once every byte is on disk, and an existing file is
// replaced only then. False with the reason in `error` (nothing written) for
// a picture libpng cannot encode (no pixels) or a file that cannot be written.
bool writePngFile(CWBitmap bitmap, const QString& path, QString& error);

} // namespace cwcall
