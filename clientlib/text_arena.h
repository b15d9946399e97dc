// Per-call storage for the texts the library makes up (flattened names,
// normalised numbers). Texts stay put until reset(), which keeps the first
// block so that a steady stream of calls does not allocate at all.
#pragma once

#include <cstddef>
#include <memory>
#include <string_view>
#include <vector>

namespace cwx {

class TextArena {
public:
    // Copies the parts, one after the other, into one NUL-terminated text.
    char* join(std::string_view a, std::string_view b = {}, std::string_view c = {});
    char* copy(std::string_view text) { return join(text); }

    void reset();   // forgets every text, keeps the first block
    void release(); // frees everything

private:
    struct Block {
        std::unique_ptr<char[]> data;
        std::size_t size;
    };
    static constexpr std::size_t kBlockSize = 16 * 1024;

    std::vector<Block> blocks_;
    char* next_ = nullptr;
    std::size_t left_ = 0;
};

} // namespace cwx
