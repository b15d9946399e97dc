// Texts handed to callers are valid UTF-8 without control characters other
// than TAB, LF and CR (docs/protocol.md, section 6): whatever a server sends.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

namespace cwx {

// The length of the leading part of `text` that needs no change: text.size()
// when the whole text is clean.
std::size_t clean_prefix(std::string_view text);

inline bool is_clean(std::string_view text) {
    return clean_prefix(text) == text.size();
}

// Appends `text` to `out` with each ill-formed UTF-8 sequence (its maximal
// subpart, as Unicode recommends), each C0 control other than TAB, LF and CR,
// DEL and each C1 control replaced by U+FFFD.
void append_clean(std::string& out, std::string_view text);

// `text` made clean, in place.
void make_clean(std::string& text);

} // namespace cwx
