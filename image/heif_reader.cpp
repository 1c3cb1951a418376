#include "image/heif_reader.h"

#include <algorithm>
#include <cstring>
#include <memory>
#include <string>

#include "image/byte_order.h"
#include "image/heif_items.h"
#include "image/heif_library.h"
#include "image/row_sink.h"

namespace morvel {
namespace {

// Largest width or height the library is let read: what the 1 GiB gray
// block allows for a square picture.
constexpr int kMaxHeifSide = 32768;

// The library's objects, each released through the library that made it.
template <typename Object, void (*HeifLibrary::*release)(Object*)>
struct Releaser {
    const HeifLibrary* library = nullptr;
    void operator()(Object* object) const { (library->*release)(object); }
};
using ContextPointer = std::unique_ptr<heif_context, Releaser<heif_context, &HeifLibrary::contextFree>>;
using HandlePointer =
    std::unique_ptr<const heif_image_handle, Releaser<const heif_image_handle, &HeifLibrary::handleRelease>>;
using ImagePointer = std::unique_ptr<const heif_image, Releaser<const heif_image, &HeifLibrary::imageRelease>>;
using OptionsPointer =
    std::unique_ptr<heif_decoding_options, Releaser<heif_decoding_options, &HeifLibrary::decodingOptionsFree>>;

// The brands of ISO/IEC 23008-12 (HEIF, with HEVC in it) and of AV1's image
// format that name a still picture or a sequence of them.
constexpr const char* kHeifBrands[] = {"mif1", "msf1", "mif2", "heic", "heix", "heim", "heis",
                                       "hevc", "hevx", "hevm", "hevs", "avif", "avis"};

bool isHeifBrand(const uint8_t* brand)
{
    return std::any_of(std::begin(kHeifBrands), std::end(kHeifBrands),
                       [brand](const char* known) { return std::memcmp(brand, known, 4) == 0; });
}

// The failure a library error stands for, with its message.
bool failWith(ReadError* error, const heif_error& cause)
{
    std::string message = cause.message != nullptr ? cause.message : "";
    // The library's message is one line; keep it so.
    std::replace(message.begin(), message.end(), '\n', ' ');
    switch (cause.code) {
    case heif_error_Memory_allocation_error:
        return fail(error, ReadFailure::NoMemory, PictureFormat::Heif);
    case heif_error_Unsupported_filetype:
    case heif_error_Unsupported_feature:
        return fail(error, ReadFailure::Unsupported, PictureFormat::Heif, message);
    default:
        return fail(error, ReadFailure::Damaged, PictureFormat::Heif, message);
    }
}

}  // namespace

bool hasHeifSignature(const uint8_t* data, size_t size)
{
    // The file-type box: its size, "ftyp", the major brand, a version, then
    // the compatible brands up to the box's end.
    if (data == nullptr || size < 12 || std::memcmp(data + 4, "ftyp", 4) != 0)
        return false;
    if (isHeifBrand(data + 8))
        return true;
    const uint32_t boxSize = bigEndian32(data);
    const size_t end = std::min<size_t>({boxSize, size, 4096});
    for (size_t at = 16; at + 4 <= end; at += 4) {
        if (isHeifBrand(data + at))
            return true;
    }
    return false;
}

ImageHandle decodeHeif(const uint8_t* data, size_t size, int64_t maxPixelBytes, ReadError* error,
                       const LoadOptions& options, ImageHandle* colour)
{
    const auto refuse = [error](ReadFailure failure, std::string detail = {}) -> ImageHandle {
        fail(error, failure, PictureFormat::Heif, std::move(detail));
        return nullptr;
    };
    if (!hasHeifSignature(data, size))
        return refuse(ReadFailure::NotAPicture);
    // An overlay's canvas size is in its own data, which the library
    // allocates before any size limit is applied: a few hundred bytes could
    // ask for gigabytes. Overlays are not read.
    if (heifPrimaryItemType(data, size) == std::optional<std::string>("iovl"))
        return refuse(ReadFailure::Unsupported, "overlay picture");
    std::string missing;
    const HeifLibrary* const heif = heifLibrary(&missing);
    if (heif == nullptr)
        return refuse(ReadFailure::NotInstalled, missing);
    ContextPointer context(heif->contextAlloc(), {heif});
    if (!context)
        return refuse(ReadFailure::NoMemory);
    heif->setMaximumImageSize(context.get(), kMaxHeifSide);
    heif_error status = heif->readFromMemory(context.get(), data, size, nullptr);
    heif_image_handle* rawHandle = nullptr;
    if (status.code == heif_error_Ok)
        status = heif->primaryImageHandle(context.get(), &rawHandle);
    HandlePointer handle(rawHandle, {heif});
    if (status.code != heif_error_Ok || !handle) {
        failWith(error, status);
        return nullptr;
    }

    // The size after the file's turns and crops, as the library decodes it.
    const int width = heif->handleWidth(handle.get());
    const int height = heif->handleHeight(handle.get());
    if (width < 1 || height < 1)
        return refuse(ReadFailure::Damaged, "no picture size");
    const bool alpha = heif->handleHasAlpha(handle.get()) != 0;
    const bool premultiplied = alpha && heif->handleIsPremultiplied(handle.get()) != 0;
    const bool wantColour = colour != nullptr && options.colour;
    RowSink sink(width, height, wantedSize(options, width, height), wantColour, std::min(maxPixelBytes, kMaxPixelBytes),
                 options.background);
    if (sink.tooLarge() || width > kMaxHeifSide || height > kMaxHeifSide ||
        int64_t{width} * (alpha ? 4 : 3) * height > kMaxPixelBytes)
        return refuse(ReadFailure::TooLarge);
    OptionsPointer decoding(heif->decodingOptionsAlloc(), {heif});
    if (!sink.ready() || !decoding)
        return refuse(ReadFailure::NoMemory);
    decoding->convert_hdr_to_8bit = 1;
    heif_image* rawImage = nullptr;
    status = heif->decodeImage(handle.get(), &rawImage, heif_colorspace_RGB,
                               alpha ? heif_chroma_interleaved_RGBA : heif_chroma_interleaved_RGB, decoding.get());
    ImagePointer image(rawImage, {heif});
    if (status.code != heif_error_Ok || !image) {
        failWith(error, status);
        return nullptr;
    }
    int stride = 0;
    const uint8_t* plane = heif->planeReadonly(image.get(), heif_channel_interleaved, &stride);
    if (plane == nullptr || heif->imageWidth(image.get(), heif_channel_interleaved) != width ||
        heif->imageHeight(image.get(), heif_channel_interleaved) != height || stride < width * (alpha ? 4 : 3))
        return refuse(ReadFailure::Damaged, "decoded picture of another size");
    const RowLayout layout = !alpha ? RowLayout::Rgb : premultiplied ? RowLayout::PremultRgba : RowLayout::Rgba;
    for (int y = 0; y < height; ++y)
        sink.addRow(plane + static_cast<size_t>(y) * static_cast<size_t>(stride), layout);
    image.reset();
    ImageHandle picture = sink.finish(colour);
    if (!picture)
        return refuse(ReadFailure::NoMemory);
    return picture;
}

}  // namespace morvel
