#include "image/heif_library.h"

#include <dlfcn.h>

namespace morvel {

namespace {

// Points `function` at the symbol `name` of `handle`; false when it is
// missing.
template <typename Function>
bool resolve(void* handle, const char* name, Function& function, std::string& why)
{
    void* symbol = ::dlsym(handle, name);
    if (symbol == nullptr) {
        why = std::string("no ") + name + " in the library";
        return false;
    }
    // POSIX guarantees that a data pointer from dlsym converts to a function
    // pointer.
    function = reinterpret_cast<Function>(symbol);
    return true;
}

struct Loaded {
    std::unique_ptr<HeifLibrary> library;
    std::string why;
};

Loaded loadOnce()
{
    Loaded loaded;
    loaded.library = openHeifLibrary(kHeifLibraryName, loaded.why);
    // The library's decoders are set up once for the process.
    if (loaded.library && loaded.library->init(nullptr).code != heif_error_Ok) {
        loaded.library.reset();
        loaded.why = "the library could not be set up";
    }
    return loaded;
}

}  // namespace

std::unique_ptr<HeifLibrary> openHeifLibrary(const char* name, std::string& why)
{
    // Loaded for good: decoders and their static state live as long as the
    // process, as a linked library's would.
    void* handle = ::dlopen(name, RTLD_NOW | RTLD_LOCAL | RTLD_NODELETE);
    if (handle == nullptr) {
        const char* error = ::dlerror();
        why = error != nullptr ? error : std::string(name) + " cannot be loaded";
        return nullptr;
    }
    auto library = std::make_unique<HeifLibrary>();
    HeifLibrary& l = *library;
    const bool complete = resolve(handle, "heif_init", l.init, why) &&
                          resolve(handle, "heif_context_alloc", l.contextAlloc, why) &&
                          resolve(handle, "heif_context_free", l.contextFree, why) &&
                          resolve(handle, "heif_context_set_maximum_image_size_limit", l.setMaximumImageSize, why) &&
                          resolve(handle, "heif_context_read_from_memory_without_copy", l.readFromMemory, why) &&
                          resolve(handle, "heif_context_get_primary_image_handle", l.primaryImageHandle, why) &&
                          resolve(handle, "heif_image_handle_release", l.handleRelease, why) &&
                          resolve(handle, "heif_image_handle_get_width", l.handleWidth, why) &&
                          resolve(handle, "heif_image_handle_get_height", l.handleHeight, why) &&
                          resolve(handle, "heif_image_handle_has_alpha_channel", l.handleHasAlpha, why) &&
                          resolve(handle, "heif_image_handle_is_premultiplied_alpha", l.handleIsPremultiplied, why) &&
                          resolve(handle, "heif_decoding_options_alloc", l.decodingOptionsAlloc, why) &&
                          resolve(handle, "heif_decoding_options_free", l.decodingOptionsFree, why) &&
                          resolve(handle, "heif_decode_image", l.decodeImage, why) &&
                          resolve(handle, "heif_image_release", l.imageRelease, why) &&
                          resolve(handle, "heif_image_get_plane_readonly", l.planeReadonly, why) &&
                          resolve(handle, "heif_image_get_width", l.imageWidth, why) &&
                          resolve(handle, "heif_image_get_height", l.imageHeight, why);
    if (!complete) {
        ::dlclose(handle);
        why = std::string(name) + ": " + why;
        return nullptr;
    }
    return library;
}

const HeifLibrary* heifLibrary(std::string* why)
{
    static const Loaded loaded = loadOnce();
    if (!loaded.library && why != nullptr)
        *why = loaded.why;
    return loaded.library.get();
}

}  // namespace morvel
