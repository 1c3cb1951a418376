#include "image/jpeg_reader.h"

#include <algorithm>
#include <csetjmp>
#include <cstdint>
#include <cstdio>
#include <optional>

#include <jpeglib.h>
#include <jerror.h>

#include "image/file_bytes.h"
#include "image/picture_transform.h"
#include "image/png_reader.h"
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

// The library's error manager followed by the reader's recovery point and
// the texts of the first warning and of the error that ended the read. The
// library only knows the first member; the replaced methods find the rest
// through it. Nothing goes to standard error: the caller words the failure.
struct JpegErrorManager {
    jpeg_error_mgr manager;
    std::jmp_buf jumpTarget;
    char warning[JMSG_LENGTH_MAX];
    char error[JMSG_LENGTH_MAX];
};

JpegErrorManager* errorManagerOf(j_common_ptr cinfo) { return reinterpret_cast<JpegErrorManager*>(cinfo->err); }

// Replaces the library's output_message: keeps the text of the error.
void keepErrorMessage(j_common_ptr cinfo)
{
    (*cinfo->err->format_message)(cinfo, errorManagerOf(cinfo)->error);
}

// Replaces the library's emit_message: keeps the text of the first warning
// (level -1) and counts warnings as the library's own does; trace messages
// (level 0 and up) are dropped.
void keepFirstWarning(j_common_ptr cinfo, int level)
{
    if (level >= 0)
        return;
    if (cinfo->err->num_warnings == 0)
        (*cinfo->err->format_message)(cinfo, errorManagerOf(cinfo)->warning);
    cinfo->err->num_warnings++;
}

// Replaces the library's error_exit: keep the message, then return to the
// reader's recovery point. Never returns into the library.
[[noreturn]] void jpegErrorExit(j_common_ptr cinfo)
{
    (*cinfo->err->output_message)(cinfo);
    std::longjmp(errorManagerOf(cinfo)->jumpTarget, 1);
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
        auto* monitor = reinterpret_cast<ScanLimitMonitor*>(cinfo->progress);
        std::snprintf(monitor->errors->error, sizeof monitor->errors->error, "more than %d scans", kMaxScans);
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

// Why a decode gave no picture (or, with a picture, the first warning).
struct JpegOutcome {
    const char* reason = nullptr;  // the whole reason, when it is not the library's
    char message[JMSG_LENGTH_MAX] = {};
};

// An 8-bit gray level from four ink samples as the library delivers CMYK:
// Adobe's files store them inverted (255 is no ink), others as they are.
uint8_t grayOfInks(const uint8_t* inks, bool inverted)
{
    uint32_t rgb[3];
    const uint32_t black = inverted ? inks[3] : 255u - inks[3];
    for (int c = 0; c < 3; ++c) {
        const uint32_t ink = inverted ? inks[c] : 255u - inks[c];
        rgb[c] = (ink * black + 127) / 255;
    }
    return grayOfRgb(static_cast<uint8_t>(rgb[0]), static_cast<uint8_t>(rgb[1]), static_cast<uint8_t>(rgb[2]));
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
                              JpegOutcome* outcome, JpegRequest& request, std::optional<RowShrinker>& shrinker)
{
    jpeg_decompress_struct cinfo;
    JpegErrorManager errors;
    ScanLimitMonitor monitor;
    ImageRecord* volatile record = nullptr;

    cinfo.err = jpeg_std_error(&errors.manager);
    errors.manager.error_exit = jpegErrorExit;
    errors.manager.output_message = keepErrorMessage;
    errors.manager.emit_message = keepFirstWarning;
    errors.warning[0] = '\0';
    errors.error[0] = '\0';

    if (setjmp(errors.jumpTarget)) {
        // A library error: the library is not entered again except to be
        // destroyed, which is what its error recovery expects. The first
        // warning, when there was one, usually names the cause (a file cut
        // off before its image is first "Premature end of JPEG file").
        // Running out of the memory the library may use is not damage: a
        // progressive picture that large needs more than it is given.
        const int code = errors.manager.msg_code;
        if (code == JERR_NO_BACKING_STORE || code == JERR_OUT_OF_MEMORY)
            outcome->reason = "JPEG picture too large to decode in 256 MiB";
        jpeg_destroy_decompress(&cinfo);
        freeImageRecord(record);
        std::snprintf(outcome->message, sizeof outcome->message, "%s",
                      errors.warning[0] != '\0' ? errors.warning : errors.error);
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
    // The library turns only gray and YCbCr files into gray. Print-shop
    // files (CMYK, or YCCK, which it turns into CMYK) are taken as CMYK and
    // made gray here, through RGB with the luminance weights PNG uses.
    const bool inks = cinfo.jpeg_color_space == JCS_CMYK || cinfo.jpeg_color_space == JCS_YCCK;
    cinfo.out_color_space = inks ? JCS_CMYK : JCS_GRAYSCALE;

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
    if (cinfo.output_components != (inks ? 4 : 1) || cinfo.output_width == 0 || cinfo.output_height == 0 ||
        imageRowPitch(width, 8) * height > maxPixelBytes) {
        outcome->reason = cinfo.output_components != (inks ? 4 : 1) ? "unsupported JPEG colour format"
                          : cinfo.output_width == 0 || cinfo.output_height == 0 ? "damaged JPEG data"
                                                                              : kTooLargeReason;
        jpeg_destroy_decompress(&cinfo);
        return nullptr;
    }

    jpeg_start_decompress(&cinfo);

    ImageRecord* made = createImageRecord();
    record = made;
    if (!made || !shapeImageRecord(made, static_cast<int32_t>(width), static_cast<int32_t>(height), 8)) {
        jpeg_destroy_decompress(&cinfo);
        freeImageRecord(made);
        outcome->reason = "out of memory";
        return nullptr;
    }
    // Ink rows arrive in a row of the library's own (freed with the
    // decompressor, whichever way the read ends).
    const JSAMPARRAY inkRow =
        inks ? (*cinfo.mem->alloc_sarray)(reinterpret_cast<j_common_ptr>(&cinfo), JPOOL_IMAGE,
                                          cinfo.output_width * 4, 1)
             : nullptr;
    const bool inverted = cinfo.saw_Adobe_marker;

    if (shrink) {
        // A few decoded rows at a time (in the library's own memory, released
        // with it), each averaged into the record at once; ink rows one at a
        // time, made gray first.
        shrinker.emplace(static_cast<int32_t>(cinfo.output_width), static_cast<int32_t>(cinfo.output_height),
                         made->header.biWidth, made->rowCount, 1, made->rows);
        if (!shrinker->ready()) {
            jpeg_destroy_decompress(&cinfo);
            freeImageRecord(made);
            outcome->reason = "out of memory";
            return nullptr;
        }
        const JDIMENSION perRead = inks ? 1 : kRowsPerRead;
        JSAMPARRAY rows = (*cinfo.mem->alloc_sarray)(reinterpret_cast<j_common_ptr>(&cinfo), JPOOL_IMAGE,
                                                      cinfo.output_width, perRead);
        while (cinfo.output_scanline < cinfo.output_height) {
            const JDIMENSION got = jpeg_read_scanlines(&cinfo, inks ? inkRow : rows, perRead);
            if (got == 0) {
                jpeg_destroy_decompress(&cinfo);
                freeImageRecord(made);
                return nullptr;
            }
            if (inks) {
                for (JDIMENSION x = 0; x < cinfo.output_width; ++x)
                    rows[0][x] = grayOfInks(inkRow[0] + size_t{4} * x, inverted);
            }
            for (JDIMENSION r = 0; r < got; ++r)
                shrinker->addRow(rows[r]);
        }
    }

    // The row being decoded is the library's own scanline counter, so a row
    // index can never run past the table.
    while (cinfo.output_scanline < cinfo.output_height) {
        uint8_t* const gray = made->rows[cinfo.output_scanline];
        JSAMPROW row = inks ? inkRow[0] : gray;
        const JDIMENSION read = jpeg_read_scanlines(&cinfo, &row, 1);
        if (read == 1 && inks) {
            for (int64_t x = 0; x < width; ++x)
                gray[x] = grayOfInks(row + size_t{4} * static_cast<size_t>(x), inverted);
        }
        if (read != 1) {
            // Neither source ever suspends; no progress means a broken
            // stream, not a picture.
            jpeg_destroy_decompress(&cinfo);
            freeImageRecord(made);
            return nullptr;
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
    std::snprintf(outcome->message, sizeof outcome->message, "%s", errors.warning);

    if (made->header.biBitCount == 8)
        setGrayColorTable(made);
    return made;
}

}  // namespace

namespace {

// The words for a decode's outcome (see readJpegFile).
void describe(const JpegOutcome& outcome, bool gavePicture, std::string* why)
{
    if (why == nullptr)
        return;
    if (outcome.reason != nullptr)
        *why = outcome.reason;
    else if (outcome.message[0] != '\0')
        *why = std::string("damaged JPEG data (") + outcome.message + ")";
    else
        *why = gavePicture ? "" : "damaged JPEG data";
}

// The decode of `request` on the attached stream, brought to the fit's size
// when the decode itself did not get there (a picture to be enlarged).
ImageHandle decodeFitted(JpegSourceSetup setupSource, const void* input, size_t size, int64_t maxPixelBytes,
                         JpegRequest& request, std::string* why)
{
    JpegOutcome outcome;
    std::optional<RowShrinker> shrinker;
    ImageHandle image(decodeJpegStream(setupSource, input, size, std::min(maxPixelBytes, kMaxPixelBytes), &outcome,
                                       request, shrinker));
    if (image && request.fitted &&
        (image->header.biWidth != request.target.width || image->rowCount != request.target.height))
        image = resizeGray(*image, request.target.width, request.target.height);
    describe(outcome, image != nullptr, why);
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

ImageHandle readJpegFile(const std::string& path, int64_t maxPixelBytes, std::string* why,
                         const LoadOptions& options)
{
    // Checked on the open descriptor: a pipe or device in the file's place
    // must not hang the reader or be read.
    std::string problem;
    std::FILE* file = openRegularFileStream(path, &problem);
    if (!file) {
        if (why != nullptr)
            *why = problem;
        return nullptr;
    }
    JpegRequest request;
    request.options = &options;
    ImageHandle image = decodeFitted(useStdioSource, file, 0, maxPixelBytes, request, why);
    std::fclose(file);
    return image;
}

ImageHandle decodeJpeg(const uint8_t* data, size_t size, int64_t maxPixelBytes, std::string* why,
                       const LoadOptions& options)
{
    // The memory source takes an unsigned long count; an empty buffer is
    // refused by the library itself as a damaged stream.
    if (data == nullptr || size > static_cast<size_t>(kMaxFileBytes)) {
        if (why != nullptr)
            *why = kTooLargeReason;
        return nullptr;
    }
    JpegRequest request;
    request.options = &options;
    return decodeFitted(useMemorySource, data, size, maxPixelBytes, request, why);
}

ImageHandle decodeJpegAtScale(const uint8_t* data, size_t size, int scaleEighths)
{
    if (data == nullptr || size > static_cast<size_t>(kMaxFileBytes) || scaleEighths < 1 || scaleEighths > 8)
        return nullptr;
    JpegRequest request;
    request.scaleEighths = scaleEighths;
    return decodeFitted(useMemorySource, data, size, kMaxPixelBytes, request, nullptr);
}

}  // namespace morvel
