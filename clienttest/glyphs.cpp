// glyphs.cpp - a blue question mark on a light-blue tile, drawn with QPainter.
#include "glyphs.h"

#include <QFont>
#include <QPainter>
#include <QPainterPath>

namespace glyphs {

namespace {

const QColor ButtonFace(240, 240, 240);
const QColor TileFill(206, 228, 255);
const QColor TileEdge(94, 148, 214);
const QColor MarkColour(22, 74, 196);

// The tile sits in the middle of its cell: the button (41 x 25) shows the
// centre of a 60 x 40 glyph.
void drawTile(QPainter& painter, const QRectF& tile) {
    painter.setRenderHint(QPainter::Antialiasing, true);
    const qreal radius = tile.height() / 5;
    painter.setPen(QPen(TileEdge, qMax(1.0, tile.height() / 20)));
    painter.setBrush(TileFill);
    painter.drawRoundedRect(tile, radius, radius);

    QFont font(QStringLiteral("DejaVu Sans"));
    font.setStyleHint(QFont::SansSerif);
    font.setBold(true);
    font.setPixelSize(qRound(tile.height() * 0.85));
    painter.setFont(font);
    painter.setPen(MarkColour);
    painter.drawText(tile, Qt::AlignCenter, QStringLiteral("?"));
}

} // namespace

QImage helpGlyphs() {
    QImage strip(GlyphWidth * GlyphCount, GlyphHeight, QImage::Format_RGB888);
    strip.fill(ButtonFace);
    QPainter painter(&strip);
    for (int index : {0, 2}) { // up and clicked; disabled and held down stay blank
        const QRectF tile(index * GlyphWidth + 15.5, 10.5, 29, 19);
        drawTile(painter, tile);
    }
    return strip;
}

QImage glyph(const QImage& strip, int index) {
    return strip.copy(index * GlyphWidth, 0, GlyphWidth, GlyphHeight);
}

QImage applicationIconImage(int side) {
    QImage image(side, side, QImage::Format_ARGB32_Premultiplied);
    image.fill(Qt::transparent);
    QPainter painter(&image);
    drawTile(painter, QRectF(0.5, 0.5, side - 1, side - 1));
    painter.end();
    return image;
}

QIcon applicationIcon() {
    QIcon icon;
    for (int side : {16, 32, 48, 64})
        icon.addPixmap(QPixmap::fromImage(applicationIconImage(side)));
    return icon;
}

} // namespace glyphs
