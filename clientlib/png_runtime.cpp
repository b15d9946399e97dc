#include "png_runtime.h"

#include <dlfcn.h>

namespace cwx::pngrt {
namespace {

#define CW_PNG_TEXT(x) #x
#define CW_PNG_NUMBER(x) CW_PNG_TEXT(x)

// The soname of the libpng the headers describe.
constexpr const char* kSoname =
    "libpng" CW_PNG_NUMBER(PNG_LIBPNG_VER_DLLNUM) ".so." CW_PNG_NUMBER(PNG_LIBPNG_VER_SONUM);

struct Loaded {
    Functions functions{};
    std::string why; // empty when loaded
};

template <typename F> bool find(void* library, const char* name, F& function, std::string& why) {
    function = reinterpret_cast<F>(::dlsym(library, name));
    if (function == nullptr)
        why = std::string(kSoname) + " cannot be loaded: it has no " + name;
    return function != nullptr;
}

Loaded load() {
    Loaded loaded;
    // Never closed: another thread may be in one of its functions at any time.
    void* library = ::dlopen(kSoname, RTLD_NOW | RTLD_LOCAL);
    if (library == nullptr) {
        const char* error = ::dlerror();
        loaded.why = std::string(kSoname) + " cannot be loaded: " + (error ? error : "unknown");
        return loaded;
    }
    Functions& f = loaded.functions;
    std::string& why = loaded.why;
    // Stops at the first one missing, `why` naming it.
    (void)(find(library, "png_sig_cmp", f.sig_cmp, why) &&
           find(library, "png_image_begin_read_from_memory", f.image_begin_read_from_memory, why) &&
           find(library, "png_image_finish_read", f.image_finish_read, why) &&
           find(library, "png_image_write_to_memory", f.image_write_to_memory, why) &&
           find(library, "png_image_free", f.image_free, why));
    return loaded;
}

} // namespace

const Functions* functions(std::string& why) {
    static const Loaded loaded = load();
    if (!loaded.why.empty()) {
        why = loaded.why;
        return nullptr;
    }
    return &loaded.functions;
}

} // namespace cwx::pngrt
