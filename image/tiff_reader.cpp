#include "image/tiff_reader.h"

#include <algorithm>
#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <memory>
#include <new>
#include <vector>

#include "image/row_sink.h"
#include "image/tiff_library.h"

namespace morvel {
namespace {

// Largest single block the library may allocate for a strip or a tile.
constexpr tmsize_t kMaxTiffAlloc = tmsize_t{256} << 20;
// The name the library knows the bytes by.
constexpr const char* kTiffName = "picture";
// Largest band of decoded RGBA pixels held at once.
constexpr int64_t kMaxBandBytes = int64_t{32} << 20;

// The file's bytes as the library reads them: from memory, never written.
struct MemoryFile {
    const uint8_t* data;
    toff_t size;
    toff_t at = 0;
    std::string error;  // the library's first error message
};

tmsize_t readProc(thandle_t handle, void* buffer, tmsize_t count)
{
    auto* file = static_cast<MemoryFile*>(handle);
    if (count <= 0 || file->at >= file->size)
        return 0;
    const auto part = static_cast<tmsize_t>(std::min<toff_t>(static_cast<toff_t>(count), file->size - file->at));
    std::memcpy(buffer, file->data + file->at, static_cast<size_t>(part));
    file->at += static_cast<toff_t>(part);
    return part;
}

tmsize_t writeProc(thandle_t, void*, tmsize_t)
{
    return 0;
}

toff_t seekProc(thandle_t handle, toff_t offset, int whence)
{
    auto* file = static_cast<MemoryFile*>(handle);
    toff_t base = whence == SEEK_CUR ? file->at : whence == SEEK_END ? file->size : 0;
    // Offsets are unsigned; a move back arrives wrapped round.
    file->at = base + offset;
    return file->at;
}

int closeProc(thandle_t)
{
    return 0;
}

toff_t sizeProc(thandle_t handle)
{
    return static_cast<MemoryFile*>(handle)->size;
}

int mapProc(thandle_t handle, void** base, toff_t* size)
{
    auto* file = static_cast<MemoryFile*>(handle);
    *base = const_cast<uint8_t*>(file->data);
    *size = file->size;
    return 1;
}

void unmapProc(thandle_t, void*, toff_t) {}

// Keeps the first error (the cause; later ones follow from it) and prints
// nothing; warnings are dropped.
int errorProc(TIFF*, void* user, const char*, const char* format, va_list args)
{
    auto* file = static_cast<MemoryFile*>(user);
    if (file->error.empty()) {
        char line[256];
        std::vsnprintf(line, sizeof line, format, args);
        file->error = line;
        std::replace(file->error.begin(), file->error.end(), '\n', ' ');
        // Some messages begin with the name the file was opened under.
        const std::string name = std::string(kTiffName) + ": ";
        if (file->error.rfind(name, 0) == 0)
            file->error.erase(0, name.size());
    }
    return 1;
}

int quietProc(TIFF*, void*, const char*, const char*, va_list)
{
    return 1;
}

// The library's objects, each released through the library that made it.
template <typename Object, void (*TiffLibrary::*release)(Object*)>
struct Releaser {
    const TiffLibrary* library = nullptr;
    void operator()(Object* object) const { (library->*release)(object); }
};
using TiffPointer = std::unique_ptr<TIFF, Releaser<TIFF, &TiffLibrary::close>>;
using OptionsPointer = std::unique_ptr<TIFFOpenOptions, Releaser<TIFFOpenOptions, &TiffLibrary::optionsFree>>;
using RgbaImagePointer = std::unique_ptr<TIFFRGBAImage, Releaser<TIFFRGBAImage, &TiffLibrary::rgbaImageEnd>>;

TiffPointer openTiff(const TiffLibrary& lib, MemoryFile& file)
{
    OptionsPointer options(lib.optionsAlloc(), {&lib});
    if (!options)
        return TiffPointer(nullptr, {&lib});
    lib.setMaxSingleMemAlloc(options.get(), kMaxTiffAlloc);
    lib.setErrorHandler(options.get(), errorProc, &file);
    lib.setWarningHandler(options.get(), quietProc, nullptr);
    return TiffPointer(lib.clientOpen(kTiffName, "rm", &file, readProc, writeProc, seekProc, closeProc, sizeProc,
                                      mapProc, unmapProc, options.get()),
                       {&lib});
}

// The rows of one band a strip or a tile high (as many as fit kMaxBandBytes).
uint32_t bandRows(const TiffLibrary& lib, TIFF* tiff, uint32_t width, uint32_t height)
{
    uint32_t rows = 0;
    if (lib.isTiled(tiff))
        lib.getField(tiff, TIFFTAG_TILELENGTH, &rows);
    else
        lib.getFieldDefaulted(tiff, TIFFTAG_ROWSPERSTRIP, &rows);
    const auto most = static_cast<uint32_t>(std::max<int64_t>(1, kMaxBandBytes / (int64_t{width} * 4)));
    return std::clamp<uint32_t>(rows, 1, std::min(most, height));
}

// The picture's pixels, band by band, into `sink`. False on a library error,
// or with `noMemory` set when the band could not be had.
bool readBands(const TiffLibrary& lib, TIFFRGBAImage& image, RowSink& sink, uint32_t band, bool& noMemory)
{
    const uint32_t width = image.width;
    const uint32_t height = image.height;
    std::vector<uint32_t> raster;
    std::vector<uint8_t> row;
    try {
        raster.resize(size_t{width} * band);
        row.resize(size_t{width} * 4);
    } catch (const std::bad_alloc&) {
        noMemory = true;
        return false;
    }
    for (uint32_t top = 0; top < height; top += band) {
        const uint32_t rows = std::min(band, height - top);
        image.row_offset = static_cast<int>(top);
        if (lib.rgbaImageGet(&image, raster.data(), width, rows) == 0)
            return false;
        for (uint32_t y = 0; y < rows; ++y) {
            const uint32_t* packed = raster.data() + size_t{y} * width;
            for (uint32_t x = 0; x < width; ++x) {
                uint8_t* px = row.data() + size_t{x} * 4;
                px[0] = static_cast<uint8_t>(TIFFGetR(packed[x]));
                px[1] = static_cast<uint8_t>(TIFFGetG(packed[x]));
                px[2] = static_cast<uint8_t>(TIFFGetB(packed[x]));
                px[3] = static_cast<uint8_t>(TIFFGetA(packed[x]));
            }
            // The library gives colour multiplied by alpha (associated).
            sink.addRow(row.data(), RowLayout::PremultRgba);
        }
    }
    return true;
}

}  // namespace

bool hasTiffSignature(const uint8_t* data, size_t size)
{
    if (data == nullptr || size < 4)
        return false;
    const bool little = data[0] == 'I' && data[1] == 'I';
    const bool big = data[0] == 'M' && data[1] == 'M';
    const unsigned version = little ? data[2] | data[3] << 8 : big ? data[2] << 8 | data[3] : 0;
    return version == 42 || version == 43;
}

ImageHandle decodeTiff(const uint8_t* data, size_t size, int64_t maxPixelBytes, ReadError* error,
                       const LoadOptions& options, ImageHandle* colour)
{
    MemoryFile file{data, static_cast<toff_t>(size), 0, {}};
    // The library's first error, when it gave one, says what broke.
    const auto refuse = [error, &file](ReadFailure failure, const char* fallback = "") -> ImageHandle {
        const bool worded = failure == ReadFailure::Damaged || failure == ReadFailure::Unsupported;
        fail(error, failure, PictureFormat::Tiff, !worded ? "" : file.error.empty() ? fallback : file.error);
        return nullptr;
    };
    if (!hasTiffSignature(data, size))
        return refuse(ReadFailure::NotAPicture);
    std::string missing;
    const TiffLibrary* const lib = tiffLibrary(&missing);
    if (lib == nullptr) {
        fail(error, ReadFailure::NotInstalled, PictureFormat::Tiff, missing);
        return nullptr;
    }
    const TiffPointer tiff = openTiff(*lib, file);
    if (!tiff)
        return refuse(ReadFailure::Damaged, "no image directory");
    char message[1024] = {};
    TIFFRGBAImage image{};
    if (!lib->rgbaImageOk(tiff.get(), message) || !lib->rgbaImageBegin(&image, tiff.get(), 1, message)) {
        file.error = message;
        return refuse(ReadFailure::Unsupported, "layout");
    }
    const RgbaImagePointer ender(&image, {lib});
    // The picture is taken as stored: the Orientation tag is applied by the
    // load sequence, so the library must not flip it.
    image.orientation = ORIENTATION_TOPLEFT;
    image.req_orientation = ORIENTATION_TOPLEFT;
    if (image.width < 1 || image.height < 1 || image.width > INT32_MAX || image.height > INT32_MAX)
        return refuse(ReadFailure::Damaged, "no picture size");
    const auto width = static_cast<int32_t>(image.width);
    const auto height = static_cast<int32_t>(image.height);
    const bool wantColour = colour != nullptr && options.colour;
    RowSink sink(width, height, wantedSize(options, width, height), wantColour, std::min(maxPixelBytes, kMaxPixelBytes),
                 options.background);
    if (sink.tooLarge())
        return refuse(ReadFailure::TooLarge);
    if (!sink.ready())
        return refuse(ReadFailure::NoMemory);
    bool noMemory = false;
    if (!readBands(*lib, image, sink, bandRows(*lib, tiff.get(), image.width, image.height), noMemory))
        return refuse(noMemory ? ReadFailure::NoMemory : ReadFailure::Damaged, "strip or tile unreadable");
    ImageHandle picture = sink.finish(colour);
    if (!picture)
        return refuse(ReadFailure::NoMemory);
    return picture;
}

}  // namespace morvel
