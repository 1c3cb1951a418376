// libtiff, opened when the first TIFF picture is read rather than linked:
// the library and the codecs it pulls in (LERC, JBIG, deflate, LZMA, Zstd)
// cost every run their loading, although few pictures need them. The
// functions the TIFF reader calls are looked up by name (see
// image/shared_library.h); their types come from the library's header.
#pragma once

#include <tiffio.h>

#include <memory>
#include <string>

namespace morvel {

// The shared object the program opens (the soname of libtiff 4.5 and on).
inline constexpr const char* kTiffLibraryName = "libtiff.so.6";

struct TiffLibrary {
    decltype(&TIFFOpenOptionsAlloc) optionsAlloc = nullptr;
    decltype(&TIFFOpenOptionsFree) optionsFree = nullptr;
    decltype(&TIFFOpenOptionsSetMaxSingleMemAlloc) setMaxSingleMemAlloc = nullptr;
    decltype(&TIFFOpenOptionsSetErrorHandlerExtR) setErrorHandler = nullptr;
    decltype(&TIFFOpenOptionsSetWarningHandlerExtR) setWarningHandler = nullptr;
    decltype(&TIFFClientOpenExt) clientOpen = nullptr;
    decltype(&TIFFClose) close = nullptr;
    decltype(&TIFFIsTiled) isTiled = nullptr;
    decltype(&TIFFGetField) getField = nullptr;
    decltype(&TIFFGetFieldDefaulted) getFieldDefaulted = nullptr;
    decltype(&TIFFRGBAImageOK) rgbaImageOk = nullptr;
    decltype(&TIFFRGBAImageBegin) rgbaImageBegin = nullptr;
    decltype(&TIFFRGBAImageGet) rgbaImageGet = nullptr;
    decltype(&TIFFRGBAImageEnd) rgbaImageEnd = nullptr;
};

// Opens the shared object `name` and looks up every function above; none
// when it cannot be opened or lacks one, with the reason in `why`.
std::unique_ptr<TiffLibrary> openTiffLibrary(const char* name, std::string& why);

// The process's libtiff, opened on first use by any thread; none when it
// cannot be had, `why` (when given) then says why.
const TiffLibrary* tiffLibrary(std::string* why = nullptr);

}  // namespace morvel
