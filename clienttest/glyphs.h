// glyphs.h - the help button's glyph strip and the application icon, drawn
// at start-up (no image files to ship).
#pragma once

#include <QIcon>
#include <QImage>

namespace glyphs {

inline constexpr int GlyphWidth = 60;
inline constexpr int GlyphHeight = 40;
inline constexpr int GlyphCount = 4; // up, disabled, clicked, held down

// 240 x 40, 24 bits a pixel: four glyphs side by side. Up and clicked show
// a blue question mark on a light-blue tile; disabled and held down are
// blank (the button face).
QImage helpGlyphs();

// One glyph of the strip.
QImage glyph(const QImage& strip, int index);

// The application's icon: the question-mark tile at the usual sizes.
QIcon applicationIcon();
// The same tile, `side` pixels square, on a transparent ground (the
// installed icon files are rendered from it).
QImage applicationIconImage(int side);

} // namespace glyphs
