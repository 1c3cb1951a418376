#include "image/jpeg_reader.h"

#include <algorithm>
#include <csetjmp>
#include <cstdint>
#include <cstdio>
#include <optional>

#include <jpeglib.h>

#include "image/file_bytes.h"
#include "image/picture_transform.h"
#include "image/row_shrinker.h"

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

// Rows asked of the library at a time when they go to the shrinker.
constexpr int kRowsPerRead = 16;

// What a read asks for beyond the picture at its natural size, and what the
// decode settled on.
struct JpegRequest {
    const LoadOptions* options = nullptr;  // its fit, when it has one
    int scaleEighths = 0;                  // a fixed scale; 0: chosen for the fit
    // Filled in by the decode:
    bool fitted = false;                   // the fit asked for a size
    PictureSize target;                    // that size
};

// Decodes the JPEG stream that `setupSource` attaches (from `input`, `size`)
// to an 8-bit gray record: at the natural size, at the request's scale, or
// at the size its fit asks for when that is a shrink of the decoded size,
// each row going through `shrinker` as it is decoded. Kept free of C++
// objects with destructors: a library error jumps back into this frame with
// longjmp, which would skip them. Everything that must survive the jump is
// either outside this frame (the file or bytes, the request and the
// shrinker, owned by the caller) or volatile.
ImageRecord* decodeJpegStream(JpegSourceSetup setupSource, const void* input, size_t size, int64_t maxPixelBytes,
                              JpegRequest& request, std::optional<RowShrinker>& shrinker)
{
    jpeg_decompress_struct cinfo;
    JpegErrorManager errors;
    ScanLimitMonitor monitor;
    ImageRecord* volatile record = nullptr;

    cinfo.err = jpeg_std_error(&errors.manager);
    errors.manager.error_exit = jpegErrorExit;

    if (setjmp(errors.jumpTarget)) {
        // A library error: the library is not entered again except to be
        // destroyed, which is what its error recovery expects.
        jpeg_destroy_decompress(&cinfo);
        freeImageRecord(record);
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
    cinfo.out_color_space = JCS_GRAYSCALE;

    // The size wanted, asked once the header tells the picture's size; the
    // library then decodes at the smallest scale that still covers it.
    int scale = request.scaleEighths;
    if (request.options != nullptr && request.options->fit) {
        const auto natural = PictureSize{static_cast<int32_t>(cinfo.image_width),
                                         static_cast<int32_t>(cinfo.image_height)};
        const std::optional<PictureSize> wanted = request.options->fit(natural.width, natural.height);
        if (wanted && wanted->width > 0 && wanted->height > 0) {
            request.fitted = true;
            request.target = *wanted;
            if (scale == 0)
                scale = jpegScaleEighths(natural, *wanted);
        }
    }
    cinfo.scale_num = static_cast<unsigned>(scale >= 1 && scale <= 8 ? scale : 8);
    cinfo.scale_denom = 8;
    jpeg_calc_output_dimensions(&cinfo);
    const bool shrink = request.fitted && request.target.width <= static_cast<int64_t>(cinfo.output_width) &&
                        request.target.height <= static_cast<int64_t>(cinfo.output_height) &&
                        (request.target.width < static_cast<int64_t>(cinfo.output_width) ||
                         request.target.height < static_cast<int64_t>(cinfo.output_height));
    const int64_t width = shrink ? request.target.width : cinfo.output_width;
    const int64_t height = shrink ? request.target.height : cinfo.output_height;

    // Refuse a declared size whose pixel block would pass the limit before the
    // library starts decoding, so a small file cannot demand a huge block.
    if (cinfo.output_components != 1 || cinfo.output_width == 0 || cinfo.output_height == 0 ||
        imageRowPitch(width, 8) * height > maxPixelBytes) {
        std::fprintf(stderr, "JPEG picture of %u x %u pixels is too large\n", cinfo.output_width,
                     cinfo.output_height);
        jpeg_destroy_decompress(&cinfo);
        return nullptr;
    }

    jpeg_start_decompress(&cinfo);

    ImageRecord* made = createImageRecord();
    record = made;
    if (!made || !shapeImageRecord(made, static_cast<int32_t>(width), static_cast<int32_t>(height),
                                   8 * cinfo.output_components)) {
        jpeg_destroy_decompress(&cinfo);
        freeImageRecord(made);
        return nullptr;
    }

    if (shrink) {
        // A few decoded rows at a time (in the library's own memory, released
        // with it), each averaged into the record at once.
        shrinker.emplace(static_cast<int32_t>(cinfo.output_width), static_cast<int32_t>(cinfo.output_height),
                         made->header.biWidth, made->rowCount, 1, made->rows);
        if (!shrinker->ready()) {
            jpeg_destroy_decompress(&cinfo);
            freeImageRecord(made);
            return nullptr;
        }
        JSAMPARRAY rows = (*cinfo.mem->alloc_sarray)(reinterpret_cast<j_common_ptr>(&cinfo), JPOOL_IMAGE,
                                                      cinfo.output_width, kRowsPerRead);
        while (cinfo.output_scanline < cinfo.output_height) {
            const JDIMENSION got = jpeg_read_scanlines(&cinfo, rows, kRowsPerRead);
            if (got == 0) {
                jpeg_destroy_decompress(&cinfo);
                freeImageRecord(made);
                return nullptr;
            }
            for (JDIMENSION r = 0; r < got; ++r)
                shrinker->addRow(rows[r]);
        }
    } else {
        // The row being decoded is the library's own scanline counter, so a
        // row index can never run past the table.
        while (cinfo.output_scanline < cinfo.output_height) {
            JSAMPROW row = made->rows[cinfo.output_scanline];
            if (jpeg_read_scanlines(&cinfo, &row, 1) != 1) {
                // Neither source ever suspends; no progress means a broken
                // stream, not a picture.
                jpeg_destroy_decompress(&cinfo);
                freeImageRecord(made);
                return nullptr;
            }
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

    if (made->header.biBitCount == 8)
        setGrayColorTable(made);
    return made;
}

// The decode of `request` on the attached stream, brought to the fit's size
// when the decode itself did not get there (a picture to be enlarged).
ImageHandle decodeFitted(JpegSourceSetup setupSource, const void* input, size_t size, int64_t maxPixelBytes,
                         JpegRequest& request)
{
    std::optional<RowShrinker> shrinker;
    ImageHandle image(
        decodeJpegStream(setupSource, input, size, std::min(maxPixelBytes, kMaxPixelBytes), request, shrinker));
    if (image && request.fitted &&
        (image->header.biWidth != request.target.width || image->rowCount != request.target.height))
        image = resizeGray(*image, request.target.width, request.target.height);
    return image;
}

}  // namespace

int jpegScaleEighths(PictureSize natural, PictureSize target)
{
    for (int64_t m = 1; m < 8; ++m) {
        const int64_t width = (natural.width * m + 7) / 8;
        const int64_t height = (natural.height * m + 7) / 8;
        if (width >= target.width && height >= target.height)
            return static_cast<int>(m);
    }
    return 8;
}

ImageHandle readJpegFile(const std::string& path, int64_t maxPixelBytes, const LoadOptions& options)
{
    // Checked on the open descriptor: a pipe or device in the file's place
    // must not hang the reader or be read.
    std::FILE* file = openRegularFileStream(path);
    if (!file) {
        std::fprintf(stderr, "can't open %s\n", path.c_str());
        return nullptr;
    }
    JpegRequest request;
    request.options = &options;
    ImageHandle image = decodeFitted(useStdioSource, file, 0, maxPixelBytes, request);
    std::fclose(file);
    return image;
}

ImageHandle decodeJpeg(const uint8_t* data, size_t size, int64_t maxPixelBytes, const LoadOptions& options)
{
    // The memory source takes an unsigned long count; an empty buffer is
    // refused by the library itself as a damaged stream.
    if (data == nullptr || size > static_cast<size_t>(kMaxFileBytes))
        return nullptr;
    JpegRequest request;
    request.options = &options;
    return decodeFitted(useMemorySource, data, size, maxPixelBytes, request);
}

ImageHandle decodeJpegAtScale(const uint8_t* data, size_t size, int scaleEighths)
{
    if (data == nullptr || size > static_cast<size_t>(kMaxFileBytes) || scaleEighths < 1 || scaleEighths > 8)
        return nullptr;
    JpegRequest request;
    request.scaleEighths = scaleEighths;
    return decodeFitted(useMemorySource, data, size, kMaxPixelBytes, request);
}

}  // namespace morvel
