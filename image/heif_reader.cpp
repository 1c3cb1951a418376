#include "image/heif_reader.h"

#include <libheif/heif.h>

#include <algorithm>
#include <cstring>
#include <memory>

#include "image/file_bytes.h"
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

std::string damagedHeif(const heif_error& error)
{
    if (error.message == nullptr || error.message[0] == '\0')
        return "damaged HEIF data";
    // The library's message is one line; keep it so.
    std::string message = error.message;
    std::replace(message.begin(), message.end(), '\n', ' ');
    return "damaged HEIF data (" + message + ")";
}

}  // namespace

bool hasHeifSignature(const uint8_t* data, size_t size)
{
    if (data == nullptr || size < 12 || std::memcmp(data + 4, "ftyp", 4) != 0)
        return false;
    const heif_filetype_result kind = heif_check_filetype(data, static_cast<int>(std::min<size_t>(size, 4096)));
    return kind != heif_filetype_no;
}

ImageHandle decodeHeif(const uint8_t* data, size_t size, int64_t maxPixelBytes, std::string* why,
                       const LoadOptions& options, ImageHandle* colour)
{
    const auto fail = [why](const std::string& because) -> ImageHandle {
        if (why != nullptr)
            *why = because;
        return nullptr;
    };
    if (!hasHeifSignature(data, size))
        return fail("damaged HEIF data");
    // The library's decoders are set up once for the process.
    static const bool initialised = heif_init(nullptr).code == heif_error_Ok;
    if (!initialised)
        return fail("damaged HEIF data (no decoder)");
    std::unique_ptr<heif_context, ContextDeleter> context(heif_context_alloc());
    if (!context)
        return fail("damaged HEIF data (out of memory)");
    heif_context_set_maximum_image_size_limit(context.get(), kMaxHeifSide);
    heif_error error = heif_context_read_from_memory_without_copy(context.get(), data, size, nullptr);
    if (error.code != heif_error_Ok)
        return fail(damagedHeif(error));
    heif_image_handle* rawHandle = nullptr;
    error = heif_context_get_primary_image_handle(context.get(), &rawHandle);
    std::unique_ptr<const heif_image_handle, HandleDeleter> handle(rawHandle);
    if (error.code != heif_error_Ok || !handle)
        return fail(damagedHeif(error));

    // The size after the file's turns and crops, as the library decodes it.
    const int width = heif_image_handle_get_width(handle.get());
    const int height = heif_image_handle_get_height(handle.get());
    if (width < 1 || height < 1)
        return fail("damaged HEIF data");
    const bool alpha = heif_image_handle_has_alpha_channel(handle.get()) != 0;
    const bool premultiplied = alpha && heif_image_handle_is_premultiplied_alpha(handle.get()) != 0;
    const bool wantColour = colour != nullptr && options.colour;
    RowSink sink(width, height, wantedSize(options, width, height), wantColour, std::min(maxPixelBytes, kMaxPixelBytes),
                 backgroundLevel(options));
    if (sink.tooLarge() || width > kMaxHeifSide || height > kMaxHeifSide ||
        int64_t{width} * (alpha ? 4 : 3) * height > kMaxPixelBytes)
        return fail(kTooLargeReason);
    if (!sink.ready())
        return fail("damaged HEIF data (out of memory)");

    std::unique_ptr<heif_decoding_options, OptionsDeleter> decoding(heif_decoding_options_alloc());
    if (!decoding)
        return fail("damaged HEIF data (out of memory)");
    decoding->convert_hdr_to_8bit = 1;
    heif_image* rawImage = nullptr;
    error = heif_decode_image(handle.get(), &rawImage, heif_colorspace_RGB,
                              alpha ? heif_chroma_interleaved_RGBA : heif_chroma_interleaved_RGB, decoding.get());
    std::unique_ptr<const heif_image, ImageDeleter> image(rawImage);
    if (error.code != heif_error_Ok || !image)
        return fail(damagedHeif(error));
    int stride = 0;
    const uint8_t* plane = heif_image_get_plane_readonly(image.get(), heif_channel_interleaved, &stride);
    if (plane == nullptr || heif_image_get_width(image.get(), heif_channel_interleaved) != width ||
        heif_image_get_height(image.get(), heif_channel_interleaved) != height || stride < width * (alpha ? 4 : 3))
        return fail("damaged HEIF data");
    const RowLayout layout = !alpha ? RowLayout::Rgb : premultiplied ? RowLayout::PremultRgba : RowLayout::Rgba;
    for (int y = 0; y < height; ++y)
        sink.addRow(plane + static_cast<size_t>(y) * static_cast<size_t>(stride), layout);
    image.reset();
    ImageHandle picture = sink.finish(colour);
    if (!picture)
        return fail("damaged HEIF data (out of memory)");
    return picture;
}

}  // namespace morvel
