// What one XML-RPC string can carry through cardwright-sim: UTF-8 text of the
// characters XML 1.0 allows, within the Basic Multilingual Plane (xmlrpc-c
// refuses characters above U+FFFF in calls and in answers).
#pragma once

#include <string>
#include <string_view>

namespace cwsim {

// The offset of the first byte that breaks this, or npos when all is carried.
std::size_t firstUncarried(std::string_view text);

// The text with every sequence that breaks this replaced by U+FFFD.
std::string carriedText(std::string_view text);

// A to Z made a to z; every other byte kept (whatever the locale).
std::string asciiLower(std::string text);

// "line L, byte B (0xNN)": where `offset` falls in `text`, for messages.
std::string placeOf(std::string_view text, std::size_t offset);

} // namespace cwsim
