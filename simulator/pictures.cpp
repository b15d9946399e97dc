#include "pictures.h"

#include <QBuffer>
#include <QColor>
#include <QFont>
#include <QPainter>
#include <QPainterPath>

#include <algorithm>
#include <cmath>
#include <numbers>
#include <random>

namespace cwsim {
namespace {

QColor colourOf(const std::string& hex, QColor fallback) {
    QColor c(QString::fromStdString(hex));
    return c.isValid() ? c : fallback;
}

QString qs(const std::string& s) {
    return QString::fromStdString(s);
}

} // namespace

std::string toPng(const QImage& image) {
    QByteArray bytes;
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::WriteOnly);
    if (!image.save(&buffer, "PNG"))
        return {};
    return std::string(bytes.constData(), static_cast<std::size_t>(bytes.size()));
}

QImage drawPhoto(std::uint32_t seed, int width, int height) {
    std::mt19937 rng(seed);
    auto pick = [&](int lo, int hi) { return std::uniform_int_distribution<int>(lo, hi)(rng); };
    QImage img(width, height, QImage::Format_RGB32);
    QPainter p(&img);
    p.setRenderHint(QPainter::Antialiasing);
    // Backdrop, shoulders, neck, head, hair, eyes, mouth: a passport-style portrait.
    QLinearGradient sky(0, 0, 0, height);
    sky.setColorAt(0, QColor::fromHsv(pick(180, 240), pick(20, 60), 235));
    sky.setColorAt(1, QColor::fromHsv(pick(180, 240), pick(40, 90), 190));
    p.fillRect(img.rect(), sky);
    static const QColor skins[] = {QColor(255, 224, 196), QColor(241, 194, 155),
                                   QColor(224, 172, 125), QColor(198, 134, 86),
                                   QColor(141, 85, 55),   QColor(92, 58, 38)};
    QColor skin = skins[pick(0, 5)];
    QColor shirt = QColor::fromHsv(pick(0, 359), pick(80, 200), pick(80, 200));
    double cx = width / 2.0 + pick(-6, 6);
    double headW = width * (0.40 + pick(0, 8) / 100.0),
           headH = height * (0.38 + pick(0, 6) / 100.0);
    double headTop = height * 0.16;
    p.setPen(Qt::NoPen);
    p.setBrush(shirt);
    p.drawEllipse(QRectF(cx - width * 0.55, height * 0.72, width * 1.1, height * 0.6));
    p.setBrush(skin.darker(108));
    p.drawRect(QRectF(cx - headW * 0.22, headTop + headH * 0.8, headW * 0.44, height * 0.18));
    p.setBrush(skin);
    p.drawEllipse(QRectF(cx - headW / 2, headTop, headW, headH));
    QColor hair = QColor::fromHsv(pick(15, 40), pick(40, 200), pick(20, 160));
    p.setBrush(hair);
    int style = pick(0, 2);
    if (style == 0) {
        p.drawChord(QRectF(cx - headW / 2 - 2, headTop - 6, headW + 4, headH * 0.7), 0, 180 * 16);
    } else if (style == 1) {
        p.drawChord(QRectF(cx - headW / 2 - 6, headTop - 10, headW + 12, headH * 0.9), 10 * 16,
                    160 * 16);
        p.drawRect(QRectF(cx - headW / 2 - 6, headTop + headH * 0.3, 10, headH * 0.7));
        p.drawRect(QRectF(cx + headW / 2 - 4, headTop + headH * 0.3, 10, headH * 0.7));
    } else {
        p.drawChord(QRectF(cx - headW / 2 + 4, headTop - 2, headW - 8, headH * 0.45), 0, 180 * 16);
    }
    double eyeY = headTop + headH * 0.48;
    p.setBrush(Qt::white);
    p.drawEllipse(QPointF(cx - headW * 0.2, eyeY), headW * 0.09, headW * 0.055);
    p.drawEllipse(QPointF(cx + headW * 0.2, eyeY), headW * 0.09, headW * 0.055);
    p.setBrush(QColor::fromHsv(pick(20, 220), pick(80, 200), pick(40, 120)));
    p.drawEllipse(QPointF(cx - headW * 0.2, eyeY), headW * 0.04, headW * 0.04);
    p.drawEllipse(QPointF(cx + headW * 0.2, eyeY), headW * 0.04, headW * 0.04);
    p.setPen(QPen(skin.darker(140), 2));
    p.setBrush(Qt::NoBrush);
    p.drawArc(QRectF(cx - headW * 0.18, headTop + headH * 0.6, headW * 0.36, headH * 0.18),
              200 * 16, 140 * 16);
    return img;
}

QImage drawSignature(std::uint32_t seed, const std::string& name, int width, int height) {
    std::mt19937 rng(seed);
    std::uniform_real_distribution<double> jitter(-1.0, 1.0);
    QImage img(width, height, QImage::Format_RGB32);
    img.fill(Qt::white);
    QPainter p(&img);
    p.setRenderHint(QPainter::Antialiasing);
    p.setPen(QPen(QColor(20, 30, 110), 2.2, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
    // A flowing stroke with one loop per letter of the name, then an underline.
    QPainterPath path;
    double x = 12, base = height * 0.62;
    path.moveTo(x, base);
    std::size_t letters = std::clamp<std::size_t>(name.size(), 4, 14);
    double step = (width - 40.0) / static_cast<double>(letters);
    for (std::size_t i = 0; i < letters; ++i) {
        double up = height * (0.25 + 0.2 * jitter(rng));
        path.cubicTo(x + step * 0.2, base - up, x + step * 0.9, base - up * 1.1, x + step * 0.5,
                     base);
        path.cubicTo(x + step * 0.3, base + 6, x + step * 0.8, base + 4 * jitter(rng), x + step,
                     base);
        x += step;
    }
    p.drawPath(path);
    p.drawLine(QPointF(20, height * 0.82), QPointF(width - 30 + 10 * jitter(rng), height * 0.78));
    return img;
}

QImage drawFingerprint(std::uint32_t seed, int size) {
    std::mt19937 rng(seed);
    std::uniform_real_distribution<double> jitter(-1.0, 1.0);
    QImage img(size, size, QImage::Format_RGB32);
    img.fill(Qt::white);
    QPainter p(&img);
    p.setRenderHint(QPainter::Antialiasing);
    p.setPen(QPen(QColor(40, 40, 40), 1.6));
    // Concentric, slightly wobbling ridges around an off-centre core, as a whorl.
    QPointF core(size / 2.0 + 8 * jitter(rng), size / 2.0 + 8 * jitter(rng));
    double wobble = 0.08 + 0.05 * jitter(rng);
    for (int ring = 1; ring < 22; ++ring) {
        QPainterPath path;
        double r0 = ring * size / 48.0;
        double phase = jitter(rng) * std::numbers::pi;
        for (int step = 0; step <= 120; ++step) {
            double a = step * 2 * std::numbers::pi / 120;
            double r = r0 * (1 + wobble * std::sin(3 * a + phase)) * (1 + 0.25 * std::sin(a));
            QPointF pt(core.x() + r * std::cos(a), core.y() + r * 1.25 * std::sin(a));
            if (step == 0)
                path.moveTo(pt);
            else
                path.lineTo(pt);
        }
        p.drawPath(path);
    }
    return img;
}

QImage renderBadge(const Design& design, const BadgeContent& content, const std::string& side) {
    QImage img(design.width, design.height, QImage::Format_RGB32);
    QColor bg = colourOf(content.background, Qt::white);
    img.fill(bg);
    QPainter p(&img);
    p.setRenderHint(QPainter::Antialiasing);
    p.setRenderHint(QPainter::SmoothPixmapTransform);
    if (side == "front" && !content.title.empty()) {
        int band = std::max(40, design.height / 12);
        p.fillRect(QRect(0, 0, design.width, band), colourOf(content.accent, bg.darker(150)));
        QFont f(QStringLiteral("DejaVu Sans"));
        f.setPixelSize(band * 6 / 10);
        f.setBold(true);
        p.setFont(f);
        p.setPen(Qt::white);
        p.drawText(QRect(0, 0, design.width, band), Qt::AlignCenter, qs(content.title));
    }
    for (const auto& field : design.fields) {
        if (field.side != side)
            continue;
        bool isLabel = field.kind == FieldKind::Label;
        if (!isLabel && !content.shown.empty() &&
            std::find(content.shown.begin(), content.shown.end(), field.name) ==
                content.shown.end())
            continue;
        QRect box(field.x, field.y, field.w, field.h);
        if (isPicture(field.kind)) {
            auto it = content.png.find(field.name);
            QImage pic;
            if (it != content.png.end())
                pic.loadFromData(reinterpret_cast<const uchar*>(it->second.data()),
                                 static_cast<int>(it->second.size()), "PNG");
            if (pic.isNull()) {
                // An empty frame shows where the picture belongs.
                p.setPen(QPen(QColor(160, 160, 160), 1, Qt::DashLine));
                p.setBrush(Qt::NoBrush);
                p.drawRect(box.adjusted(0, 0, -1, -1));
                continue;
            }
            QImage scaled = pic.scaled(box.size(), Qt::KeepAspectRatio, Qt::SmoothTransformation);
            p.drawImage(box.x() + (box.width() - scaled.width()) / 2,
                        box.y() + (box.height() - scaled.height()) / 2, scaled);
            continue;
        }
        std::string text = isLabel ? field.text : "";
        if (!isLabel) {
            auto it = content.text.find(field.name);
            if (it != content.text.end())
                text = it->second;
        }
        QFont f(QStringLiteral("DejaVu Sans"));
        f.setPixelSize(field.fontSize);
        f.setBold(field.bold);
        p.setFont(f);
        p.setPen(colourOf(field.color, Qt::black));
        int align = field.align == "center"  ? Qt::AlignHCenter
                    : field.align == "right" ? Qt::AlignRight
                                             : Qt::AlignLeft;
        p.drawText(box, align | Qt::AlignVCenter | Qt::TextWordWrap, qs(text));
    }
    p.setPen(QPen(bg.darker(130), 2));
    p.setBrush(Qt::NoBrush);
    p.drawRoundedRect(QRectF(1, 1, design.width - 2, design.height - 2), 18, 18);
    return img;
}

} // namespace cwsim
