#include "image/jpeg_reader.h"

#include <algorithm>
#include <csetjmp>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <optional>

#include <jerror.h>
#include <jpeglib.h>

#include "image/colour_picture.h"
#include "image/file_bytes.h"
#include "image/picture_transform.h"
#include "image/png_reader.h"
#include "image/row_shrinker.h"

namespace morvel {
namespace {

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
    bool endedEarly;  // a warning said the data ended before the picture did
};

JpegErrorManager* errorManagerOf(j_common_ptr cinfo)
{
    return reinterpret_cast<JpegErrorManager*>(cinfo->err);
}

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
    if (cinfo->err->msg_code == JWRN_JPEG_EOF)
        errorManagerOf(cinfo)->endedEarly = true;
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
    ReadFailure failure = ReadFailure::None;  // set where the reader itself gives up
    const char* detail = nullptr;             // its words, when the library's would not do
    char message[JMSG_LENGTH_MAX] = {};
    bool endedEarly = false;  // the picture was completed past the data's end
};

// How the library delivers a file's rows and how they become gray: as gray
// itself; as four ink samples (CMYK), which Adobe's files store inverted
// (255 is no ink), made RGB and then gray; or as YCbCr when colour is wanted
// too, whose Y is the very gray the library gives for gray output.
enum class RowKind {
    Gray,
    Inks,
    InvertedInks,
    Ycc
};

// The gray pixels (and, with `rgb`, the colour) of a row of `width` pixels
// delivered as `kind` (not Gray).
void splitRow(const uint8_t* decoded, RowKind kind, JDIMENSION width, uint8_t* gray, uint8_t* rgb)
{
    if (kind == RowKind::Ycc) {
        for (JDIMENSION x = 0; x < width; ++x, decoded += 3) {
            gray[x] = decoded[0];
            if (rgb != nullptr)
                rgbOfYcc(decoded[0], decoded[1], decoded[2], rgb + size_t{3} * x);
        }
        return;
    }
    const bool inverted = kind == RowKind::InvertedInks;
    for (JDIMENSION x = 0; x < width; ++x, decoded += 4) {
        uint8_t colour[3];
        rgbOfInks(decoded, inverted, colour);
        gray[x] = grayOfRgb(colour[0], colour[1], colour[2]);
        if (rgb != nullptr)
            std::memcpy(rgb + size_t{3} * x, colour, 3);
    }
}

// Rows asked of the library at a time when they go to the shrinker.
constexpr int kRowsPerRead = 16;

// What a read asks for beyond the picture at its natural size, and what the
// decode settled on.
struct JpegRequest {
    const LoadOptions* options = nullptr;  // its fit, when it has one
    int scaleEighths = 0;                  // a fixed scale; 0: chosen for the fit
    bool colour = false;                   // give the colour too, from the same decode
    // Filled in by the decode:
    bool fitted = false;        // the fit asked for a size
    PictureSize target;         // that size
    bool grayFile = false;      // the file holds gray only
    ImageHandle colourPicture;  // the colour, at the gray picture's size
    std::optional<RowShrinker> colourShrinker;
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
    errors.endedEarly = false;
    errors.error[0] = '\0';

    if (setjmp(errors.jumpTarget)) {
        // A library error: the library is not entered again except to be
        // destroyed, which is what its error recovery expects. The first
        // warning, when there was one, usually names the cause (a file cut
        // off before its image is first "Premature end of JPEG file").
        // Running out of the memory the library may use is not damage: a
        // progressive picture that large needs more than it is given.
        const int code = errors.manager.msg_code;
        if (code == JERR_NO_BACKING_STORE || code == JERR_OUT_OF_MEMORY) {
            outcome->failure = ReadFailure::DecoderLimit;
            outcome->detail = "256 MiB";
        }
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
    // made gray here, through RGB with the luminance weights PNG uses. With
    // colour wanted, a YCbCr file is taken as YCbCr: its Y is the gray, its
    // three components the colour, from the one decode.
    const bool inks = cinfo.jpeg_color_space == JCS_CMYK || cinfo.jpeg_color_space == JCS_YCCK;
    const bool ycc = request.colour && cinfo.jpeg_color_space == JCS_YCbCr;
    request.grayFile = cinfo.jpeg_color_space == JCS_GRAYSCALE;
    cinfo.out_color_space = inks ? JCS_CMYK : ycc ? JCS_YCbCr : JCS_GRAYSCALE;
    const RowKind kind = inks  ? (cinfo.saw_Adobe_marker ? RowKind::InvertedInks : RowKind::Inks)
                         : ycc ? RowKind::Ycc
                               : RowKind::Gray;
    const int components = inks ? 4 : ycc ? 3 : 1;

    // The size wanted, asked once the header tells the picture's size; the
    // library then decodes at the smallest scale that still covers it.
    int scale = request.scaleEighths;
    if (request.options != nullptr && request.options->fit) {
        const auto natural =
            PictureSize{static_cast<int32_t>(cinfo.image_width), static_cast<int32_t>(cinfo.image_height)};
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
    if (cinfo.output_components != components || cinfo.output_width == 0 || cinfo.output_height == 0 ||
        imageRowPitch(width, 8) * height > maxPixelBytes) {
        const bool empty = cinfo.output_width == 0 || cinfo.output_height == 0;
        outcome->failure = cinfo.output_components != components ? ReadFailure::Unsupported
                           : empty                               ? ReadFailure::Damaged
                                                                 : ReadFailure::TooLarge;
        if (outcome->failure == ReadFailure::Unsupported)
            outcome->detail = "colour format";
        jpeg_destroy_decompress(&cinfo);
        return nullptr;
    }
    // The colour comes from this decode for the kinds that carry it; a
    // colour block past the limit is left out (the caller falls back).
    const bool colour = request.colour && kind != RowKind::Gray && imageRowPitch(width, 24) * height <= maxPixelBytes;

    jpeg_start_decompress(&cinfo);

    ImageRecord* made = createImageRecord();
    record = made;
    if (!made || !shapeImageRecord(made, static_cast<int32_t>(width), static_cast<int32_t>(height), 8) ||
        (colour &&
         !(request.colourPicture = makeColourImage(static_cast<int32_t>(width), static_cast<int32_t>(height))))) {
        jpeg_destroy_decompress(&cinfo);
        freeImageRecord(made);
        outcome->failure = ReadFailure::NoMemory;
        return nullptr;
    }
    uint8_t* const* const colourRows = colour ? request.colourPicture->rows : nullptr;
    // Rows that are not gray already arrive in rows of the library's own
    // (freed with the decompressor, whichever way the read ends) and are
    // split into a gray line and a colour line.
    const JDIMENSION perRead = shrink ? kRowsPerRead : 1;
    const JSAMPARRAY decoded =
        kind != RowKind::Gray || shrink
            ? (*cinfo.mem->alloc_sarray)(reinterpret_cast<j_common_ptr>(&cinfo), JPOOL_IMAGE,
                                         cinfo.output_width * static_cast<JDIMENSION>(components), perRead)
            : nullptr;
    const JSAMPARRAY lines = kind != RowKind::Gray ? (*cinfo.mem->alloc_sarray)(reinterpret_cast<j_common_ptr>(&cinfo),
                                                                                JPOOL_IMAGE, cinfo.output_width * 3, 2)
                                                   : nullptr;

    if (shrink) {
        // A few decoded rows at a time, each averaged into the record (and
        // its colour into the colour record) at once.
        shrinker.emplace(static_cast<int32_t>(cinfo.output_width), static_cast<int32_t>(cinfo.output_height),
                         made->header.biWidth, made->rowCount, 1, made->rows);
        if (colour)
            request.colourShrinker.emplace(static_cast<int32_t>(cinfo.output_width),
                                           static_cast<int32_t>(cinfo.output_height), made->header.biWidth,
                                           made->rowCount, 3, colourRows);
        if (!shrinker->ready() || (colour && !request.colourShrinker->ready())) {
            jpeg_destroy_decompress(&cinfo);
            freeImageRecord(made);
            outcome->failure = ReadFailure::NoMemory;
            return nullptr;
        }
        while (cinfo.output_scanline < cinfo.output_height) {
            const JDIMENSION got = jpeg_read_scanlines(&cinfo, decoded, perRead);
            if (got == 0) {
                jpeg_destroy_decompress(&cinfo);
                freeImageRecord(made);
                return nullptr;
            }
            for (JDIMENSION r = 0; r < got; ++r) {
                if (kind == RowKind::Gray) {
                    shrinker->addRow(decoded[r]);
                    continue;
                }
                splitRow(decoded[r], kind, cinfo.output_width, lines[0], colour ? lines[1] : nullptr);
                shrinker->addRow(lines[0]);
                if (colour)
                    request.colourShrinker->addRow(lines[1]);
            }
        }
    }

    // The row being decoded is the library's own scanline counter, so a row
    // index can never run past the table.
    while (cinfo.output_scanline < cinfo.output_height) {
        const JDIMENSION y = cinfo.output_scanline;
        JSAMPROW row = kind != RowKind::Gray ? decoded[0] : made->rows[y];
        const JDIMENSION read = jpeg_read_scanlines(&cinfo, &row, 1);
        if (read != 1) {
            // Neither source ever suspends; no progress means a broken
            // stream, not a picture.
            jpeg_destroy_decompress(&cinfo);
            freeImageRecord(made);
            return nullptr;
        }
        if (kind != RowKind::Gray)
            splitRow(row, kind, cinfo.output_width, made->rows[y], colour ? colourRows[y] : nullptr);
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
    outcome->endedEarly = errors.endedEarly;

    if (made->header.biBitCount == 8)
        setGrayColorTable(made);
    return made;
}

}  // namespace

namespace {

// The decode's outcome as the reader reports it (see readJpegFile).
void describe(const JpegOutcome& outcome, bool gavePicture, ReadError* error)
{
    if (error == nullptr)
        return;
    if (gavePicture)
        *error =
            ReadError{ReadFailure::None, PictureFormat::Jpeg, outcome.endedEarly ? kJpegEndsEarly : outcome.message};
    else if (outcome.failure != ReadFailure::None)
        fail(error, outcome.failure, PictureFormat::Jpeg, outcome.detail != nullptr ? outcome.detail : "");
    else
        fail(error, ReadFailure::Damaged, PictureFormat::Jpeg, outcome.message);
}

// The decode of `request` on the attached stream, brought to the fit's size
// when the decode itself did not get there (a picture to be enlarged). With
// colour asked for in the request, `colour` receives it at the gray
// picture's size when this decode could give it (none otherwise).
ImageHandle decodeFitted(JpegSourceSetup setupSource, const void* input, size_t size, int64_t maxPixelBytes,
                         JpegRequest& request, ReadError* error, ImageHandle* colour)
{
    JpegOutcome outcome;
    std::optional<RowShrinker> shrinker;
    ImageHandle image(decodeJpegStream(setupSource, input, size, std::min(maxPixelBytes, kMaxPixelBytes), &outcome,
                                       request, shrinker));
    if (image && request.fitted &&
        (image->header.biWidth != request.target.width || image->rowCount != request.target.height))
        image = resizeGray(*image, request.target.width, request.target.height);
    describe(outcome, image != nullptr, error);
    if (colour != nullptr && image) {
        const int32_t width = image->header.biWidth;
        const int32_t height = image->rowCount;
        *colour =
            request.grayFile ? colourFromGray(*image) : fitColour(std::move(request.colourPicture), width, height);
    }
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

ImageHandle readJpegFile(const std::string& path, int64_t maxPixelBytes, ReadError* error, const LoadOptions& options,
                         ImageHandle* colour)
{
    // Checked on the open descriptor: a pipe or device in the file's place
    // must not hang the reader or be read.
    std::string problem;
    std::FILE* file = openRegularFileStream(path, &problem);
    if (!file) {
        fail(error, ReadFailure::CannotOpen, PictureFormat::Jpeg, problem);
        return nullptr;
    }
    JpegRequest request;
    request.options = &options;
    request.colour = options.colour && colour != nullptr;
    ImageHandle image =
        decodeFitted(useStdioSource, file, 0, maxPixelBytes, request, error, request.colour ? colour : nullptr);
    if (!image && request.colour && std::fseek(file, 0, SEEK_SET) == 0) {
        // Colour needs the chroma decoded and upsampled, which the library
        // refuses for some sampling factors that gray output never touches:
        // the gray picture alone, then, as without colour.
        JpegRequest grayOnly;
        grayOnly.options = &options;
        image = decodeFitted(useStdioSource, file, 0, maxPixelBytes, grayOnly, error, nullptr);
    }
    std::fclose(file);
    return image;
}

ImageHandle decodeJpeg(const uint8_t* data, size_t size, int64_t maxPixelBytes, ReadError* error,
                       const LoadOptions& options, ImageHandle* colour)
{
    // The memory source takes an unsigned long count; an empty buffer is
    // refused by the library itself as a damaged stream.
    if (data == nullptr || size > static_cast<size_t>(kMaxFileBytes)) {
        fail(error, data == nullptr ? ReadFailure::Damaged : ReadFailure::TooLarge, PictureFormat::Jpeg);
        return nullptr;
    }
    JpegRequest request;
    request.options = &options;
    request.colour = options.colour && colour != nullptr;
    ImageHandle image =
        decodeFitted(useMemorySource, data, size, maxPixelBytes, request, error, request.colour ? colour : nullptr);
    if (!image && request.colour) {
        // As readJpegFile: the gray picture alone when colour was refused.
        JpegRequest grayOnly;
        grayOnly.options = &options;
        image = decodeFitted(useMemorySource, data, size, maxPixelBytes, grayOnly, error, nullptr);
    }
    return image;
}

ImageHandle decodeJpegAtScale(const uint8_t* data, size_t size, int scaleEighths)
{
    if (data == nullptr || size > static_cast<size_t>(kMaxFileBytes) || scaleEighths < 1 || scaleEighths > 8)
        return nullptr;
    JpegRequest request;
    request.scaleEighths = scaleEighths;
    return decodeFitted(useMemorySource, data, size, kMaxPixelBytes, request, nullptr, nullptr);
}

}  // namespace morvel
