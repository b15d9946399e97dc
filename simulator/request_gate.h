// The checks a call passes before xmlrpc-c's registry sees it: a text
// encoding XML-RPC clients send, no DOCTYPE, bounded nesting and size, and a
// multicall of bounded length. They cost far less than what they keep away:
// entity expansion, recursion on deep nesting, memory per value.
#pragma once

#include <cstddef>
#include <string>

namespace cwsim {

namespace gate {
constexpr int kMaxDepth = 64;
constexpr std::size_t kMaxValues = 100000;
// Five elements per value is what XML-RPC itself needs at most (member, name,
// value, type, data); the bound keeps the parse tree small.
constexpr std::size_t kMaxElements = 5 * kMaxValues;
constexpr std::size_t kMaxMulticalls = 100;
} // namespace gate

struct GateVerdict {
    bool passed = false;
    std::string refusal; // why it is refused, for the fault
    std::string method;  // the method named in the call, when it got that far
};

// Checks `body` and, where it is ISO-8859-1 or starts with a byte order mark,
// rewrites it as plain UTF-8 for the registry.
GateVerdict checkCall(std::string& body);

// Why a call that passed the gate and that the registry refused is not a
// call: not well-formed XML, or another root than <methodCall>. Empty when
// it is neither, and the registry's own fault stands. (xmlrpc-c's parser
// checks well-formedness anyway; this only puts it in our words, so the
// calls that are fine are parsed once.)
std::string malformedCall(const std::string& body);

} // namespace cwsim
