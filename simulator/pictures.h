// Pictures the simulator makes: the badge drawn from its design, and the
// stand-ins for what capture devices would deliver (photo, signature,
// fingerprint). Everything is drawn on QImage, so no display is needed.
#pragma once

#include "design.h"

#include <QImage>

#include <cstdint>
#include <map>
#include <string>

namespace cwsim {

// PNG bytes of an image; empty if encoding failed.
std::string toPng(const QImage& image);

// Deterministic for a given seed, so a regenerated roster looks the same.
QImage drawPhoto(std::uint32_t seed, int width = 180, int height = 225);
QImage drawSignature(std::uint32_t seed, const std::string& name, int width = 300, int height = 90);
QImage drawFingerprint(std::uint32_t seed, int size = 160);

struct BadgeContent {
    std::string title;                       // the template's title; empty: none
    std::string background;                  // "#rrggbb" of the side drawn
    std::string accent;                      // "#rrggbb" of the title band
    std::vector<std::string> shown;          // fields the template shows; empty: all
    std::map<std::string, std::string> text; // data field -> value
    std::map<std::string, std::string> png;  // picture field -> PNG bytes
};

// Draws one side ("front" or "back") of the card at the design's size.
QImage renderBadge(const Design& design, const BadgeContent& content, const std::string& side);

} // namespace cwsim
