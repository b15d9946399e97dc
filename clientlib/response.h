// Decoding of XML-RPC methodResponse bodies (docs/protocol.md, section 4).
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include <pugixml.hpp>

#include "text_arena.h"

namespace cwx {

enum class ValueType {
    String,
    Int,
    Boolean,
    Double,
    DateTime,
    Base64,
    Nil,
    Struct,
    Array,
    Unknown
};

// "a string", "an int", ... for messages.
const char* describe(ValueType type);

// Deepest nesting of values the reader walks.
inline constexpr int kMaxDepth = 64;

// Most bytes the names of nested values ("Address.Geo[0]") take in all. Each
// such name repeats the names of its parents, so a long name above many
// values would otherwise make a small answer take gigabytes.
inline constexpr std::size_t kMaxPathBytes = 64u << 20;

// Entries of a decoded list. The texts point into the parsed body or into the
// reader's arena: valid until the reader's next parse() or reset().
struct Entries {
    std::vector<char*> names;
    std::vector<char*> values;
    void clear() {
        names.clear();
        values.clear();
    }
    void add(const char* name, const char* value) {
        names.push_back(const_cast<char*>(name));
        values.push_back(const_cast<char*>(value));
    }
};

class ResponseReader {
  public:
    enum class Outcome { Value, Fault, Invalid };

    // Parses `body` in place; the body must not change until the next parse()
    // or reset(). Value: value() is the answer. Fault: fault_code() and
    // fault_string(). Invalid: problem() says why.
    Outcome parse(std::string& body);

    pugi::xml_node value() const { return value_; }
    std::int32_t fault_code() const { return fault_code_; }
    const char* fault_string() const { return fault_string_; }
    const std::string& problem() const { return problem_; }

    // The type of a <value> node; `typed` becomes its type element (null for
    // an untyped string).
    static ValueType type_of(pugi::xml_node value, pugi::xml_node& typed);

    // The text of a scalar <value> by the documented rules, cleaned; nullptr
    // (with problem() set) for a malformed scalar, a struct or an array.
    const char* scalar_text(pugi::xml_node value);

    // Flattens an answer into `out` (appends). False with problem() set.
    bool flatten(pugi::xml_node value, Entries& out);

    // Forgets the parsed document and the arena's texts (keeps capacity).
    void reset();
    // Frees everything.
    void release();

    TextArena& arena() { return arena_; }

    // The text content of an element (pieces split by CDATA joined), as
    // sent: not cleaned.
    const char* node_text(pugi::xml_node node);

    // `text` itself when it is clean (clean_text.h), else a clean copy in the
    // arena. Every text handed to a caller passes through here.
    const char* clean(const char* text);

  private:
    const char* scalar_text(pugi::xml_node value, ValueType type, pugi::xml_node typed);
    bool fail(std::string why);
    const char* trimmed(const char* text);
    const char* path_name(const std::string& path); // nullptr past kMaxPathBytes
    bool walk_value(pugi::xml_node value, std::string& path, const char* direct_name, int depth,
                    Entries& out);
    bool walk_struct(pugi::xml_node node, std::string& path, bool top, int depth, Entries& out);
    bool walk_array(pugi::xml_node node, std::string& path, bool top, int depth, Entries& out);

    pugi::xml_document doc_;
    pugi::xml_node value_;
    std::int32_t fault_code_ = 0;
    const char* fault_string_ = "";
    std::string problem_;
    std::string path_;
    std::size_t path_bytes_ = 0;
    bool single_piece_texts_ = false;
    TextArena arena_;
};

} // namespace cwx
