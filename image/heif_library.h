// libheif, opened when the first HEIF (HEIC or AVIF) picture is read rather
// than linked: the library and the codecs it pulls in (libde265, x265,
// dav1d, aom) cost every run their loading and start-up, although few
// pictures need them. The functions the HEIF reader calls are looked up by
// name; their types come from the library's own header.
#pragma once

#include <libheif/heif.h>

#include <memory>
#include <string>

namespace morvel {

// The shared object the program opens (the soname of libheif 1.x).
inline constexpr const char* kHeifLibraryName = "libheif.so.1";

struct HeifLibrary {
    decltype(&heif_init) init = nullptr;
    decltype(&heif_context_alloc) contextAlloc = nullptr;
    decltype(&heif_context_free) contextFree = nullptr;
    decltype(&heif_context_set_maximum_image_size_limit) setMaximumImageSize = nullptr;
    decltype(&heif_context_read_from_memory_without_copy) readFromMemory = nullptr;
    decltype(&heif_context_get_primary_image_handle) primaryImageHandle = nullptr;
    decltype(&heif_image_handle_release) handleRelease = nullptr;
    decltype(&heif_image_handle_get_width) handleWidth = nullptr;
    decltype(&heif_image_handle_get_height) handleHeight = nullptr;
    decltype(&heif_image_handle_has_alpha_channel) handleHasAlpha = nullptr;
    decltype(&heif_image_handle_is_premultiplied_alpha) handleIsPremultiplied = nullptr;
    decltype(&heif_decoding_options_alloc) decodingOptionsAlloc = nullptr;
    decltype(&heif_decoding_options_free) decodingOptionsFree = nullptr;
    decltype(&heif_decode_image) decodeImage = nullptr;
    decltype(&heif_image_release) imageRelease = nullptr;
    decltype(&heif_image_get_plane_readonly) planeReadonly = nullptr;
    decltype(&heif_image_get_width) imageWidth = nullptr;
    decltype(&heif_image_get_height) imageHeight = nullptr;
};

// Opens the shared object `name` and looks up every function above; none
// when it cannot be opened or lacks one, with the reason in `why` (the
// loader's words). The library stays loaded for the rest of the process.
std::unique_ptr<HeifLibrary> openHeifLibrary(const char* name, std::string& why);

// The process's libheif, opened and set up (heif_init) on first use by any
// thread; none when it cannot be had, `why` (when given) then says why.
const HeifLibrary* heifLibrary(std::string* why = nullptr);

}  // namespace morvel
