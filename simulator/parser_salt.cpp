// The hash salt of xmlrpc-c's XML parser, given when the parser is made.
//
// xmlrpc-c parses every call with its own copy of expat, one parser per call.
// A parser without a salt makes one as it starts: srand(time(NULL)), then
// rand(). glibc's srand runs its generator 310 steps under a process-wide
// lock, about a twentieth of all the work of a small call, and every thread
// serving calls takes that lock. A salt given up front skips all of it, and
// one drawn from the kernel's randomness is harder to guess than the time.
//
// xmlrpc-c makes its parsers where we cannot reach them, so this program
// defines the creating function itself, which the dynamic linker binds ahead
// of the library's: it makes the parser with the library's own function and
// sets the salt through the parser's own call. Linked into cardwright-sim
// only.

#include <dlfcn.h>

#include <chrono>
#include <cstdint>
#include <random>

extern "C" {

struct XML_ParserStruct;
using XML_Parser = XML_ParserStruct*;

// From libxmlrpc_xmlparse (xmlrpc-c's expat): 1 when the salt is taken.
int XML_SetHashSalt(XML_Parser parser, unsigned long salt);

__attribute__((visibility("default"))) XML_Parser xmlrpc_XML_ParserCreate(const char* encoding);

} // extern "C"

namespace {

using Create = XML_Parser (*)(const char*);

Create libraryCreate() {
    static const Create create =
        reinterpret_cast<Create>(dlsym(RTLD_NEXT, "xmlrpc_XML_ParserCreate"));
    return create;
}

// splitmix64 from a seed per thread: no lock, and never 0, which would
// leave the parser to make its own.
unsigned long nextSalt() {
    thread_local std::uint64_t state = [] {
        // Nothing may be thrown into the library's C frames.
        try {
            std::random_device device;
            return (std::uint64_t{device()} << 32) ^ device();
        } catch (...) {
            auto now = std::chrono::steady_clock::now().time_since_epoch().count();
            return static_cast<std::uint64_t>(now) ^ reinterpret_cast<std::uintptr_t>(&now);
        }
    }();
    std::uint64_t z = (state += 0x9E3779B97F4A7C15ull);
    z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
    z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
    z ^= z >> 31;
    return static_cast<unsigned long>(z | 1u);
}

} // namespace

extern "C" XML_Parser xmlrpc_XML_ParserCreate(const char* encoding) {
    Create create = libraryCreate();
    if (!create)
        return nullptr; // as when the library's parser cannot be made: a fault
    XML_Parser parser = create(encoding);
    if (parser)
        XML_SetHashSalt(parser, nextSalt());
    return parser;
}
