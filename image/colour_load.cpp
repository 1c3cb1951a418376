#include "image/colour_load.h"

#include <csetjmp>
#include <cstring>
#include <memory>
#include <vector>

#include <jpeglib.h>
#include <spng.h>

#include "image/colour_picture.h"
#include "image/file_bytes.h"
#include "image/gif_decoder.h"
#include "image/jpeg_reader.h"
#include "image/png_reader.h"

namespace morvel {
namespace {

struct ColourJpegErrors {
    jpeg_error_mgr manager;
    std::jmp_buf jumpTarget;
};

[[noreturn]] void colourJpegError(j_common_ptr cinfo)
{
    std::longjmp(reinterpret_cast<ColourJpegErrors*>(cinfo->err)->jumpTarget, 1);
}

// Warnings (damage decoded past) are the gray reader's to report.
void colourJpegQuiet(j_common_ptr, int) {}

// The JPEG stream's colours. Kept free of C++ objects with destructors: an
// error jumps back into this frame.
ImageRecord* decodeJpegColour(const uint8_t* data, size_t size)
{
    jpeg_decompress_struct cinfo;
    ColourJpegErrors errors;
    ImageRecord* volatile record = nullptr;
    cinfo.err = jpeg_std_error(&errors.manager);
    errors.manager.error_exit = colourJpegError;
    errors.manager.emit_message = colourJpegQuiet;
    if (setjmp(errors.jumpTarget)) {
        jpeg_destroy_decompress(&cinfo);
        freeImageRecord(record);
        return nullptr;
    }
    jpeg_create_decompress(&cinfo);
    cinfo.mem->max_memory_to_use = kJpegLibraryMemory;
    jpeg_mem_src(&cinfo, data, static_cast<unsigned long>(size));
    jpeg_read_header(&cinfo, TRUE);
    const bool inks = cinfo.jpeg_color_space == JCS_CMYK || cinfo.jpeg_color_space == JCS_YCCK;
    cinfo.out_color_space = inks ? JCS_CMYK : JCS_RGB;
    jpeg_calc_output_dimensions(&cinfo);
    if (cinfo.output_components != (inks ? 4 : 3) || cinfo.output_width == 0 || cinfo.output_height == 0 ||
        imageRowPitch(cinfo.output_width, 24) * static_cast<int64_t>(cinfo.output_height) > kMaxPixelBytes) {
        jpeg_destroy_decompress(&cinfo);
        return nullptr;
    }
    jpeg_start_decompress(&cinfo);
    const auto width = static_cast<int32_t>(cinfo.output_width);
    ImageRecord* made = makeColourImage(width, static_cast<int32_t>(cinfo.output_height)).release();
    record = made;
    if (!made) {
        jpeg_destroy_decompress(&cinfo);
        return nullptr;
    }
    const JSAMPARRAY inkRow = inks ? (*cinfo.mem->alloc_sarray)(reinterpret_cast<j_common_ptr>(&cinfo), JPOOL_IMAGE,
                                                                cinfo.output_width * 4, 1)
                                   : nullptr;
    const bool inverted = cinfo.saw_Adobe_marker;
    while (cinfo.output_scanline < cinfo.output_height) {
        uint8_t* const rgb = made->rows[cinfo.output_scanline];
        JSAMPROW row = inks ? inkRow[0] : rgb;
        if (jpeg_read_scanlines(&cinfo, &row, 1) != 1) {
            jpeg_destroy_decompress(&cinfo);
            freeImageRecord(made);
            return nullptr;
        }
        for (int32_t x = 0; inks && x < width; ++x)
            rgbOfInks(row + size_t{4} * static_cast<size_t>(x), inverted, rgb + size_t{3} * static_cast<size_t>(x));
    }
    jpeg_finish_decompress(&cinfo);
    jpeg_destroy_decompress(&cinfo);
    return made;
}

struct SpngDeleter {
    void operator()(spng_ctx* ctx) const { spng_ctx_free(ctx); }
};

// The PNG's samples (8 bits, RGBA) laid over `background`, as the gray
// reader lays them: c a + g (255 - a), divided by 255, rounded (16-bit
// samples over g x 257 at their own scale, then rounded to 8 bits).
ImageHandle decodePngColour(const uint8_t* data, size_t size, const RgbColour& background)
{
    const uint64_t ground[3] = {background.red, background.green, background.blue};
    std::unique_ptr<spng_ctx, SpngDeleter> ctx(spng_ctx_new(0));
    spng_ihdr ihdr{};
    size_t bytes = 0;
    if (!ctx || spng_set_png_buffer(ctx.get(), data, size) != 0 || spng_get_ihdr(ctx.get(), &ihdr) != 0 ||
        ihdr.width == 0 || ihdr.height == 0 || ihdr.width > kMaxPngSide || ihdr.height > kMaxPngSide ||
        imageRowPitch(ihdr.width, 24) * static_cast<int64_t>(ihdr.height) > kMaxPixelBytes ||
        spng_decoded_image_size(ctx.get(), SPNG_FMT_RGBA16, &bytes) != 0)
        return nullptr;
    std::vector<uint16_t> rgba;
    try {
        rgba.resize(bytes / 2);
    } catch (const std::bad_alloc&) {
        return nullptr;
    }
    if (spng_decode_image(ctx.get(), rgba.data(), bytes, SPNG_FMT_RGBA16, SPNG_DECODE_TRNS) != 0)
        return nullptr;
    ImageHandle colour = makeColourImage(static_cast<int32_t>(ihdr.width), static_cast<int32_t>(ihdr.height));
    if (!colour)
        return nullptr;
    const bool sixteen = ihdr.bit_depth == 16;
    for (uint32_t y = 0; y < ihdr.height; ++y) {
        const uint16_t* px = rgba.data() + size_t{y} * ihdr.width * 4;
        uint8_t* out = colour->rows[y];
        for (uint32_t x = 0; x < ihdr.width; ++x, px += 4, out += 3) {
            for (int c = 0; c < 3; ++c) {
                // 16-bit samples composed at their scale, then rounded to 8
                // bits; 8-bit samples arrive scaled by 257 and are composed
                // as 8 bits.
                const uint64_t a = px[3], v = px[c];
                if (sixteen) {
                    const uint64_t over = (v * a + ground[c] * 257 * (65535 - a) + 32767) / 65535;
                    out[c] = static_cast<uint8_t>((over * 255 + 32767) / 65535);
                } else {
                    const uint64_t a8 = a / 257, v8 = v / 257;
                    out[c] = static_cast<uint8_t>((v8 * a8 + ground[c] * (255 - a8) + 127) / 255);
                }
            }
        }
    }
    return colour;
}

}  // namespace

ImageHandle decodeColour(const uint8_t* data, size_t size, const RgbColour& background)
{
    if (data == nullptr || size > static_cast<size_t>(kMaxFileBytes))
        return nullptr;
    if (ImageHandle gif = decodeGif(data, size))
        return colourFromPalette(*gif);
    if (hasPngSignature(data, size))
        return decodePngColour(data, size, background);
    if (size >= 2 && data[0] == 0xFF && data[1] == 0xD8)
        return ImageHandle(decodeJpegColour(data, size));
    return nullptr;
}

ImageHandle readColour(const std::string& path, const RgbColour& background)
{
    const auto bytes = readFileBytes(path);
    if (!bytes)
        return nullptr;
    return decodeColour(bytes->data(), bytes->size(), background);
}

}  // namespace morvel
