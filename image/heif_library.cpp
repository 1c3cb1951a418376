#include "image/heif_library.h"

#include "image/shared_library.h"

namespace morvel {

namespace {

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
    void* handle = openSharedLibrary(name, why);
    if (handle == nullptr)
        return nullptr;
    auto library = std::make_unique<HeifLibrary>();
    HeifLibrary& l = *library;
    const bool complete =
        resolveFunction(handle, "heif_init", l.init, why) &&
        resolveFunction(handle, "heif_context_alloc", l.contextAlloc, why) &&
        resolveFunction(handle, "heif_context_free", l.contextFree, why) &&
        resolveFunction(handle, "heif_context_set_maximum_image_size_limit", l.setMaximumImageSize, why) &&
        resolveFunction(handle, "heif_context_read_from_memory_without_copy", l.readFromMemory, why) &&
        resolveFunction(handle, "heif_context_get_primary_image_handle", l.primaryImageHandle, why) &&
        resolveFunction(handle, "heif_image_handle_release", l.handleRelease, why) &&
        resolveFunction(handle, "heif_image_handle_get_width", l.handleWidth, why) &&
        resolveFunction(handle, "heif_image_handle_get_height", l.handleHeight, why) &&
        resolveFunction(handle, "heif_image_handle_has_alpha_channel", l.handleHasAlpha, why) &&
        resolveFunction(handle, "heif_image_handle_is_premultiplied_alpha", l.handleIsPremultiplied, why) &&
        resolveFunction(handle, "heif_decoding_options_alloc", l.decodingOptionsAlloc, why) &&
        resolveFunction(handle, "heif_decoding_options_free", l.decodingOptionsFree, why) &&
        resolveFunction(handle, "heif_decode_image", l.decodeImage, why) &&
        resolveFunction(handle, "heif_image_release", l.imageRelease, why) &&
        resolveFunction(handle, "heif_image_get_plane_readonly", l.planeReadonly, why) &&
        resolveFunction(handle, "heif_image_get_width", l.imageWidth, why) &&
        resolveFunction(handle, "heif_image_get_height", l.imageHeight, why);
    if (!complete) {
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
