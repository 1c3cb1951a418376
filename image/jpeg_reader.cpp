#include "image/jpeg_reader.h"

#include <algorithm>
#include <csetjmp>
#include <cstdint>
#include <cstdio>

#include <jpeglib.h>

#include "image/colour_picture.h"
#include "image/file_bytes.h"

namespace morvel {
namespace {

// Memory the library may use for its own whole-image buffers (the coefficient
// store of progressive and multi-scan files). A progressive 4:2:0 colour photo
// needs about 3 bytes per pixel there, so 256 MiB covers pictures of some 85
// megapixels, while a small file declaring a huge progressive picture is
// refused instead of taking gigabytes.
constexpr long kJpegLibraryMemory = 256L * 1024 * 1024;

// Progressive files with thousands of tiny scans take quadratic time to
// decode. Real encoders write a dozen scans at most; 500 is the limit the
// library's own TurboJPEG interface applies when asked to limit scans.
constexpr int kMaxScans = 500;

// The library's error manager followed by the reader's recovery point. The
// library only knows the first member; jpegErrorExit finds the rest through it.
struct JpegErrorManager {
    jpeg_error_mgr manager;
    std::jmp_buf jumpTarget;
};

// Replaces the library's error_exit: report the message the library's default
// way (standard error), then return to the reader's recovery point. Never
// returns into the library.
[[noreturn]] void jpegErrorExit(j_common_ptr cinfo)
{
    (*cinfo->err->output_message)(cinfo);
    auto* errors = reinterpret_cast<JpegErrorManager*>(cinfo->err);
    std::longjmp(errors->jumpTarget, 1);
}

struct ScanLimitMonitor {
    jpeg_progress_mgr progress;
    JpegErrorManager* errors;
};

void limitScans(j_common_ptr cinfo)
{
    if (!cinfo->is_decompressor)
        return;
    auto* dinfo = reinterpret_cast<j_decompress_ptr>(cinfo);
    if (dinfo->input_scan_number > kMaxScans) {
        std::fprintf(stderr, "JPEG file has more than %d scans\n", kMaxScans);
        auto* monitor = reinterpret_cast<ScanLimitMonitor*>(cinfo->progress);
        std::longjmp(monitor->errors->jumpTarget, 1);
    }
}

// Attaches the library's data source to the decompressor: the stdio source
// for a file, the memory source for bytes. Both never suspend.
using JpegSourceSetup = void (*)(j_decompress_ptr cinfo, const void* input, size_t size);

void useStdioSource(j_decompress_ptr cinfo, const void* input, size_t)
{
    jpeg_stdio_src(cinfo, static_cast<FILE*>(const_cast<void*>(input)));
}

void useMemorySource(j_decompress_ptr cinfo, const void* input, size_t size)
{
    jpeg_mem_src(cinfo, static_cast<const unsigned char*>(input), static_cast<unsigned long>(size));
}

// Decodes the JPEG stream that `setupSource` attaches (from `input`, `size`)
// to an 8-bit gray record; with `colourOut`, a YCbCr stream is decoded once
// as YCbCr and split into the gray record (its luminance, the very bytes a
// grayscale decode gives) and a 24-bit colour record put in *colourOut; an
// RGB stream is decoded as RGB, its gray the luminance the library computes.
// Other streams leave *colourOut none. Kept free of C++ objects with
// destructors: a library error jumps back into this frame with longjmp,
// which would skip them. Everything that must survive the jump is either outside this frame
// (the file or bytes, owned by the caller) or volatile.
ImageRecord* decodeJpegStream(JpegSourceSetup setupSource, const void* input, size_t size, int64_t maxPixelBytes,
                              ImageRecord** colourOut)
{
    jpeg_decompress_struct cinfo;
    JpegErrorManager errors;
    ScanLimitMonitor monitor;
    ImageRecord* volatile record = nullptr;
    ImageRecord* volatile colour = nullptr;

    cinfo.err = jpeg_std_error(&errors.manager);
    errors.manager.error_exit = jpegErrorExit;

    if (setjmp(errors.jumpTarget)) {
        // A library error: the library is not entered again except to be
        // destroyed, which is what its error recovery expects.
        jpeg_destroy_decompress(&cinfo);
        freeImageRecord(record);
        freeImageRecord(colour);
        return nullptr;
    }

    jpeg_create_decompress(&cinfo);
    cinfo.mem->max_memory_to_use = kJpegLibraryMemory;
    monitor.progress = {};
    monitor.progress.progress_monitor = limitScans;
    monitor.errors = &errors;
    cinfo.progress = &monitor.progress;

    setupSource(&cinfo, input, size);
    jpeg_read_header(&cinfo, TRUE);
    const bool splitColour =
        colourOut != nullptr && (cinfo.jpeg_color_space == JCS_YCbCr || cinfo.jpeg_color_space == JCS_RGB);
    const bool storedRgb = cinfo.jpeg_color_space == JCS_RGB;
    cinfo.out_color_space = splitColour ? cinfo.jpeg_color_space : JCS_GRAYSCALE;

    // Refuse a declared size whose pixel block would pass the limit before the
    // library starts decoding, so a small file cannot demand a huge block.
    jpeg_calc_output_dimensions(&cinfo);
    if (cinfo.output_components != (splitColour ? 3 : 1) || cinfo.output_width == 0 || cinfo.output_height == 0 ||
        imageRowPitch(cinfo.output_width, 8) * static_cast<int64_t>(cinfo.output_height) > maxPixelBytes) {
        std::fprintf(stderr, "JPEG picture of %u x %u pixels is too large\n", cinfo.output_width,
                     cinfo.output_height);
        jpeg_destroy_decompress(&cinfo);
        return nullptr;
    }

    jpeg_start_decompress(&cinfo);

    const auto width = static_cast<int32_t>(cinfo.output_width);
    const auto height = static_cast<int32_t>(cinfo.output_height);
    ImageRecord* made = createImageRecord();
    record = made;
    if (!made || !shapeImageRecord(made, width, height, 8)) {
        jpeg_destroy_decompress(&cinfo);
        freeImageRecord(made);
        return nullptr;
    }
    // The colour record and the row the library decodes YCbCr into; the row
    // is the library's own memory, released with the decompressor.
    JSAMPARRAY yccRow = nullptr;
    if (splitColour) {
        // Without room for the colours the gray picture still comes.
        colour = makeColourImage(width, height).release();
        yccRow = (*cinfo.mem->alloc_sarray)(reinterpret_cast<j_common_ptr>(&cinfo), JPOOL_IMAGE,
                                             cinfo.output_width * 3, 1);
    }

    // The row being decoded is the library's own scanline counter, so a row
    // index can never run past the table.
    while (cinfo.output_scanline < cinfo.output_height) {
        const JDIMENSION y = cinfo.output_scanline;
        JSAMPROW row = yccRow ? yccRow[0] : made->rows[y];
        if (jpeg_read_scanlines(&cinfo, &row, 1) != 1) {
            // Neither source ever suspends; no progress means a broken
            // stream, not a picture.
            jpeg_destroy_decompress(&cinfo);
            freeImageRecord(made);
            freeImageRecord(colour);
            return nullptr;
        }
        if (yccRow && storedRgb) {
            splitRgbRow(row, width, made->rows[y], colour ? colour->rows[y] : nullptr);
        } else if (yccRow && colour) {
            splitYccRow(row, width, made->rows[y], colour->rows[y]);
        } else if (yccRow) {
            for (int32_t x = 0; x < width; ++x)
                made->rows[y][x] = row[3 * x];
        }
    }

    // The library writes only the pixels of a row; the fill bytes up to the
    // pitch are cleared so that the whole block is defined (copies and views
    // read rows whole, and the same file always gives the same bytes).
    clearRowFill(*made);

    // An error here (damage after the last row) still jumps to the recovery
    // point and gives no picture.
    jpeg_finish_decompress(&cinfo);
    jpeg_destroy_decompress(&cinfo);

    setGrayColorTable(made);
    if (colourOut)
        *colourOut = colour;
    return made;
}

}  // namespace

ImageHandle readJpegFile(const std::string& path, int64_t maxPixelBytes, ImageHandle* colour)
{
    // Checked on the open descriptor: a pipe or device in the file's place
    // must not hang the reader or be read.
    std::FILE* file = openRegularFileStream(path);
    if (!file) {
        std::fprintf(stderr, "can't open %s\n", path.c_str());
        return nullptr;
    }
    ImageRecord* madeColour = nullptr;
    ImageHandle image(decodeJpegStream(useStdioSource, file, 0, std::min(maxPixelBytes, kMaxPixelBytes),
                                       colour ? &madeColour : nullptr));
    std::fclose(file);
    if (colour)
        colour->reset(madeColour);
    return image;
}

ImageHandle decodeJpeg(const uint8_t* data, size_t size, int64_t maxPixelBytes, ImageHandle* colour)
{
    // The memory source takes an unsigned long count; an empty buffer is
    // refused by the library itself as a damaged stream.
    if (data == nullptr || size > static_cast<size_t>(kMaxFileBytes))
        return nullptr;
    ImageRecord* madeColour = nullptr;
    ImageHandle image(decodeJpegStream(useMemorySource, data, size, std::min(maxPixelBytes, kMaxPixelBytes),
                                       colour ? &madeColour : nullptr));
    if (colour)
        colour->reset(madeColour);
    return image;
}

}  // namespace morvel
