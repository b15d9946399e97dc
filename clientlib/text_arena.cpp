#include "text_arena.h"

#include <algorithm>
#include <cstring>

namespace cwx {

char* TextArena::join(std::string_view a, std::string_view b, std::string_view c) {
    const std::size_t needed = a.size() + b.size() + c.size() + 1;
    if (needed > left_) {
        const std::size_t size = std::max(kBlockSize, needed);
        blocks_.push_back(Block{std::make_unique_for_overwrite<char[]>(size), size});
        next_ = blocks_.back().data.get();
        left_ = size;
    }
    char* text = next_;
    char* out = text;
    for (std::string_view part : {a, b, c}) {
        if (!part.empty())
            std::memcpy(out, part.data(), part.size());
        out += part.size();
    }
    *out = '\0';
    next_ += needed;
    left_ -= needed;
    return text;
}

void TextArena::reset() {
    if (blocks_.empty())
        return;
    if (blocks_.size() > 1)
        blocks_.resize(1);
    next_ = blocks_.front().data.get();
    left_ = blocks_.front().size;
}

void TextArena::release() {
    blocks_.clear();
    blocks_.shrink_to_fit();
    next_ = nullptr;
    left_ = 0;
}

} // namespace cwx
