#include "image/tiff_library.h"

#include "image/shared_library.h"

namespace morvel {

namespace {

struct Loaded {
    std::unique_ptr<TiffLibrary> library;
    std::string why;
};

}  // namespace

std::unique_ptr<TiffLibrary> openTiffLibrary(const char* name, std::string& why)
{
    void* handle = openSharedLibrary(name, why);
    if (handle == nullptr)
        return nullptr;
    auto library = std::make_unique<TiffLibrary>();
    TiffLibrary& l = *library;
    const bool complete = resolveFunction(handle, "TIFFOpenOptionsAlloc", l.optionsAlloc, why) &&
                          resolveFunction(handle, "TIFFOpenOptionsFree", l.optionsFree, why) &&
                          resolveFunction(handle, "TIFFOpenOptionsSetMaxSingleMemAlloc", l.setMaxSingleMemAlloc, why) &&
                          resolveFunction(handle, "TIFFOpenOptionsSetErrorHandlerExtR", l.setErrorHandler, why) &&
                          resolveFunction(handle, "TIFFOpenOptionsSetWarningHandlerExtR", l.setWarningHandler, why) &&
                          resolveFunction(handle, "TIFFClientOpenExt", l.clientOpen, why) &&
                          resolveFunction(handle, "TIFFClose", l.close, why) &&
                          resolveFunction(handle, "TIFFIsTiled", l.isTiled, why) &&
                          resolveFunction(handle, "TIFFGetField", l.getField, why) &&
                          resolveFunction(handle, "TIFFGetFieldDefaulted", l.getFieldDefaulted, why) &&
                          resolveFunction(handle, "TIFFRGBAImageOK", l.rgbaImageOk, why) &&
                          resolveFunction(handle, "TIFFRGBAImageBegin", l.rgbaImageBegin, why) &&
                          resolveFunction(handle, "TIFFRGBAImageGet", l.rgbaImageGet, why) &&
                          resolveFunction(handle, "TIFFRGBAImageEnd", l.rgbaImageEnd, why);
    if (!complete) {
        why = std::string(name) + ": " + why;
        return nullptr;
    }
    return library;
}

const TiffLibrary* tiffLibrary(std::string* why)
{
    static const Loaded loaded = [] {
        Loaded opened;
        opened.library = openTiffLibrary(kTiffLibraryName, opened.why);
        return opened;
    }();
    if (!loaded.library && why != nullptr)
        *why = loaded.why;
    return loaded.library.get();
}

}  // namespace morvel
