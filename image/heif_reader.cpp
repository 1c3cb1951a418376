#include "image/heif_reader.h"

#include <libheif/heif.h>

#include <algorithm>
#include <cstring>
#include <memory>
#include <string>

#include "image/row_sink.h"

namespace morvel {
namespace {

// Largest width or height the library is let read: what the 1 GiB gray
// block allows for a square picture.
constexpr int kMaxHeifSide = 32768;

struct ContextDeleter {
    void operator()(heif_context* context) const { heif_context_free(context); }
};
struct HandleDeleter {
    void operator()(const heif_image_handle* handle) const { heif_image_handle_release(handle); }
};
struct ImageDeleter {
    void operator()(const heif_image* image) const { heif_image_release(image); }
};
struct OptionsDeleter {
    void operator()(heif_decoding_options* options) const { heif_decoding_options_free(options); }
};

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
    if (data == nullptr || size < 12 || std::memcmp(data + 4, "ftyp", 4) != 0)
        return false;
    const heif_filetype_result kind = heif_check_filetype(data, static_cast<int>(std::min<size_t>(size, 4096)));
    return kind != heif_filetype_no;
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
    // The library's decoders are set up once for the process.
    static const bool initialised = heif_init(nullptr).code == heif_error_Ok;
    std::unique_ptr<heif_context, ContextDeleter> context(heif_context_alloc());
    if (!initialised || !context)
        return refuse(ReadFailure::NoMemory);
    heif_context_set_maximum_image_size_limit(context.get(), kMaxHeifSide);
    heif_error status = heif_context_read_from_memory_without_copy(context.get(), data, size, nullptr);
    heif_image_handle* rawHandle = nullptr;
    if (status.code == heif_error_Ok)
        status = heif_context_get_primary_image_handle(context.get(), &rawHandle);
    std::unique_ptr<const heif_image_handle, HandleDeleter> handle(rawHandle);
    if (status.code != heif_error_Ok || !handle) {
        failWith(error, status);
        return nullptr;
    }

    // The size after the file's turns and crops, as the library decodes it.
    const int width = heif_image_handle_get_width(handle.get());
    const int height = heif_image_handle_get_height(handle.get());
    if (width < 1 || height < 1)
        return refuse(ReadFailure::Damaged, "no picture size");
    const bool alpha = heif_image_handle_has_alpha_channel(handle.get()) != 0;
    const bool premultiplied = alpha && heif_image_handle_is_premultiplied_alpha(handle.get()) != 0;
    const bool wantColour = colour != nullptr && options.colour;
    RowSink sink(width, height, wantedSize(options, width, height), wantColour, std::min(maxPixelBytes, kMaxPixelBytes),
                 options.background);
    if (sink.tooLarge() || width > kMaxHeifSide || height > kMaxHeifSide ||
        int64_t{width} * (alpha ? 4 : 3) * height > kMaxPixelBytes)
        return refuse(ReadFailure::TooLarge);
    std::unique_ptr<heif_decoding_options, OptionsDeleter> decoding(heif_decoding_options_alloc());
    if (!sink.ready() || !decoding)
        return refuse(ReadFailure::NoMemory);
    decoding->convert_hdr_to_8bit = 1;
    heif_image* rawImage = nullptr;
    status = heif_decode_image(handle.get(), &rawImage, heif_colorspace_RGB,
                               alpha ? heif_chroma_interleaved_RGBA : heif_chroma_interleaved_RGB, decoding.get());
    std::unique_ptr<const heif_image, ImageDeleter> image(rawImage);
    if (status.code != heif_error_Ok || !image) {
        failWith(error, status);
        return nullptr;
    }
    int stride = 0;
    const uint8_t* plane = heif_image_get_plane_readonly(image.get(), heif_channel_interleaved, &stride);
    if (plane == nullptr || heif_image_get_width(image.get(), heif_channel_interleaved) != width ||
        heif_image_get_height(image.get(), heif_channel_interleaved) != height || stride < width * (alpha ? 4 : 3))
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
