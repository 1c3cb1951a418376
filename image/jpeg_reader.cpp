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
// (255 is no ink), made RGB and then gray; or, when colour is wanted too, as
// YCbCr, whose Y is the very gray the library gives for gray output, or as
// RGB for a file stored so, whose gray by the luminance weights is the
// library's own (it computes gray from RGB with the same weights).
enum class RowKind {
    Gray,
    Inks,
    InvertedInks,
    Ycc,
    Rgb
};

// The gray pixels (and, with `rgb`, the colour) of a row of `width` pixels
// delivered as `kind` (not Gray).
void splitRow(const uint8_t* decoded, RowKind kind, JDIMENSION width, uint8_t* gray, uint8_t* rgb)
{
    if (kind == RowKind::Rgb) {
        if (rgb != nullptr)
            std::memcpy(rgb, decoded, size_t{3} * width);
        for (JDIMENSION x = 0; x < width; ++x, decoded += 3)
            gray[x] = grayOfRgb(decoded[0], decoded[1], decoded[2]);
        return;
    }
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
    bool started = false;       // the library began decoding (its setup took the request)
    ImageHandle colourPicture;  // the colour, at the gray picture's size
    std::optional<RowShrinker> colourShrinker;
};

// The library's decompressor with everything the reader gives it: its error
// manager, the scan monitor and the limit on the library's memory. Every
// decode, gray or colour, goes through one. Plain data only: a library error
// jumps out of the functions that use it with longjmp.
struct JpegDecoder {
    jpeg_decompress_struct cinfo;
    JpegErrorManager errors;
    ScanLimitMonitor monitor;
};

// Readies `d` for a stream: the replaced error methods, the memory limit and
// the scan monitor. The caller has set the recovery point first.
void openDecoder(JpegDecoder& d)
{
    d.cinfo.err = jpeg_std_error(&d.errors.manager);
    d.errors.manager.error_exit = jpegErrorExit;
    d.errors.manager.output_message = keepErrorMessage;
    d.errors.manager.emit_message = keepFirstWarning;
    d.errors.warning[0] = '\0';
    d.errors.error[0] = '\0';
    d.errors.endedEarly = false;
    jpeg_create_decompress(&d.cinfo);
    d.cinfo.mem->max_memory_to_use = kJpegLibraryMemory;
    d.monitor.progress = {};
    d.monitor.progress.progress_monitor = limitScans;
    d.monitor.errors = &d.errors;
    d.cinfo.progress = &d.monitor.progress;
}

// What a decode settled on once the header was read.
struct JpegPlan {
    RowKind kind = RowKind::Gray;
    int components = 1;
    bool shrink = false;  // rows go through the shrinker to the fitted size
    bool colour = false;  // colour comes from this decode
    int64_t width = 0;    // the record's size
    int64_t height = 0;
};

// Chooses how the library delivers the rows and at which scale, from the
// header. The library turns only gray and YCbCr files into gray. Print-shop
// files (CMYK, or YCCK, which it turns into CMYK) are taken as CMYK and made
// gray here, through RGB with the luminance weights PNG uses. With colour
// wanted, a YCbCr or RGB file is taken as it is stored: gray and colour from
// the one decode.
JpegPlan planDecode(j_decompress_ptr cinfo, JpegRequest& request)
{
    JpegPlan plan;
    const J_COLOR_SPACE stored = cinfo->jpeg_color_space;
    const bool inks = stored == JCS_CMYK || stored == JCS_YCCK;
    const bool ycc = request.colour && stored == JCS_YCbCr;
    const bool rgb = request.colour && stored == JCS_RGB;
    request.grayFile = stored == JCS_GRAYSCALE;
    cinfo->out_color_space = inks ? JCS_CMYK : ycc ? JCS_YCbCr : rgb ? JCS_RGB : JCS_GRAYSCALE;
    plan.kind = inks  ? (cinfo->saw_Adobe_marker ? RowKind::InvertedInks : RowKind::Inks)
                : ycc ? RowKind::Ycc
                : rgb ? RowKind::Rgb
                      : RowKind::Gray;
    plan.components = inks ? 4 : ycc || rgb ? 3 : 1;

    // The size wanted, asked once the header tells the picture's size; the
    // library then decodes at the smallest scale that still covers it.
    int scale = request.scaleEighths;
    if (request.options != nullptr && request.options->fit) {
        const auto natural =
            PictureSize{static_cast<int32_t>(cinfo->image_width), static_cast<int32_t>(cinfo->image_height)};
        const std::optional<PictureSize> wanted = request.options->fit(natural.width, natural.height);
        if (wanted && wanted->width > 0 && wanted->height > 0) {
            request.fitted = true;
            request.target = *wanted;
            if (scale == 0)
                scale = jpegScaleEighths(natural, *wanted);
        }
    }
    cinfo->scale_num = static_cast<unsigned>(scale >= 1 && scale <= 8 ? scale : 8);
    cinfo->scale_denom = 8;
    jpeg_calc_output_dimensions(cinfo);
    const int64_t outWidth = cinfo->output_width;
    const int64_t outHeight = cinfo->output_height;
    const PictureSize target = request.target;
    plan.shrink = request.fitted && target.width <= outWidth && target.height <= outHeight &&
                  (target.width < outWidth || target.height < outHeight);
    plan.width = plan.shrink ? target.width : outWidth;
    plan.height = plan.shrink ? target.height : outHeight;
    return plan;
}

// Why the plan cannot be decoded, checked before the library starts
// decoding, so that a small file cannot demand a huge block; None when it
// can. A colour block past the limit only leaves the colour out.
ReadFailure refusePlan(j_decompress_ptr cinfo, JpegPlan& plan, const JpegRequest& request, int64_t maxPixelBytes)
{
    if (cinfo->output_components != plan.components)
        return ReadFailure::Unsupported;
    if (cinfo->output_width == 0 || cinfo->output_height == 0)
        return ReadFailure::Damaged;
    if (imageRowPitch(plan.width, 8) * plan.height > maxPixelBytes)
        return ReadFailure::TooLarge;
    plan.colour =
        request.colour && plan.kind != RowKind::Gray && imageRowPitch(plan.width, 24) * plan.height <= maxPixelBytes;
    return ReadFailure::None;
}

// The gray record of the plan's size and, when the plan gives colour, the
// colour record beside it. False when memory runs out.
bool makeRecords(const JpegPlan& plan, JpegRequest& request, ImageRecord* made)
{
    if (!made || !shapeImageRecord(made, static_cast<int32_t>(plan.width), static_cast<int32_t>(plan.height), 8))
        return false;
    if (plan.colour &&
        !(request.colourPicture = makeColourImage(static_cast<int32_t>(plan.width), static_cast<int32_t>(plan.height))))
        return false;
    return true;
}

// Rows of the library's own (freed with the decompressor, whichever way the
// read ends): `decoded` for rows as delivered when they are not the
// record's own rows, `lines` for a gray and a colour line split from them.
struct JpegRows {
    JSAMPARRAY decoded = nullptr;
    JSAMPARRAY lines = nullptr;
};

JpegRows libraryRows(j_decompress_ptr cinfo, const JpegPlan& plan)
{
    JpegRows rows;
    const auto common = reinterpret_cast<j_common_ptr>(cinfo);
    const JDIMENSION perRead = plan.shrink ? kRowsPerRead : 1;
    if (plan.kind != RowKind::Gray || plan.shrink)
        rows.decoded = (*cinfo->mem->alloc_sarray)(
            common, JPOOL_IMAGE, cinfo->output_width * static_cast<JDIMENSION>(plan.components), perRead);
    if (plan.kind != RowKind::Gray)
        rows.lines = (*cinfo->mem->alloc_sarray)(common, JPOOL_IMAGE, cinfo->output_width * 3, 2);
    return rows;
}

// The shrinkers from the decoded size to the record's (and the colour
// record's). False when they get no memory.
bool makeShrinkers(j_decompress_ptr cinfo, const JpegPlan& plan, ImageRecord* made, JpegRequest& request,
                   std::optional<RowShrinker>& shrinker)
{
    const auto outWidth = static_cast<int32_t>(cinfo->output_width);
    const auto outHeight = static_cast<int32_t>(cinfo->output_height);
    shrinker.emplace(outWidth, outHeight, made->header.biWidth, made->rowCount, 1, made->rows);
    if (plan.colour)
        request.colourShrinker.emplace(outWidth, outHeight, made->header.biWidth, made->rowCount, 3,
                                       request.colourPicture->rows);
    return shrinker->ready() && (!plan.colour || request.colourShrinker->ready());
}

// Decodes every row, a few at a time, averaging each into the record (and
// its colour into the colour record) at once. False when the stream breaks
// off.
bool decodeShrinking(j_decompress_ptr cinfo, const JpegPlan& plan, const JpegRows& rows, JpegRequest& request,
                     std::optional<RowShrinker>& shrinker)
{
    while (cinfo->output_scanline < cinfo->output_height) {
        const JDIMENSION got = jpeg_read_scanlines(cinfo, rows.decoded, kRowsPerRead);
        if (got == 0)
            return false;
        for (JDIMENSION r = 0; r < got; ++r) {
            if (plan.kind == RowKind::Gray) {
                shrinker->addRow(rows.decoded[r]);
                continue;
            }
            splitRow(rows.decoded[r], plan.kind, cinfo->output_width, rows.lines[0],
                     plan.colour ? rows.lines[1] : nullptr);
            shrinker->addRow(rows.lines[0]);
            if (plan.colour)
                request.colourShrinker->addRow(rows.lines[1]);
        }
    }
    return true;
}

// Decodes every row straight into the record (and the colour record). The
// row being decoded is the library's own scanline counter, so a row index
// can never run past the table. False when the stream breaks off: neither
// source ever suspends, so no progress means a broken stream.
bool decodeRows(j_decompress_ptr cinfo, const JpegPlan& plan, const JpegRows& rows, ImageRecord* made,
                const JpegRequest& request)
{
    uint8_t* const* const colourRows = plan.colour ? request.colourPicture->rows : nullptr;
    while (cinfo->output_scanline < cinfo->output_height) {
        const JDIMENSION y = cinfo->output_scanline;
        JSAMPROW row = plan.kind != RowKind::Gray ? rows.decoded[0] : made->rows[y];
        if (jpeg_read_scanlines(cinfo, &row, 1) != 1)
            return false;
        if (plan.kind != RowKind::Gray)
            splitRow(row, plan.kind, cinfo->output_width, made->rows[y], colourRows ? colourRows[y] : nullptr);
    }
    return true;
}

// Decodes the JPEG stream that `setupSource` attaches (from `input`, `size`)
// to an 8-bit gray record: at the natural size, at the request's scale, or
// at the size its fit asks for when that is a shrink of the decoded size,
// each row going through `shrinker` as it is decoded. Kept free of C++
// objects with destructors, as are the functions it calls: a library error
// jumps back into this frame with longjmp, which would skip them.
// Everything that must survive the jump is either outside this frame (the
// file or bytes, the request and the shrinker, owned by the caller) or
// volatile.
ImageRecord* decodeJpegStream(JpegSourceSetup setupSource, const void* input, size_t size, int64_t maxPixelBytes,
                              JpegOutcome* outcome, JpegRequest& request, std::optional<RowShrinker>& shrinker)
{
    JpegDecoder d;
    ImageRecord* volatile record = nullptr;
    if (setjmp(d.errors.jumpTarget)) {
        // A library error: the library is not entered again except to be
        // destroyed, which is what its error recovery expects. The first
        // warning, when there was one, usually names the cause (a file cut
        // off before its image is first "Premature end of JPEG file").
        // Running out of the memory the library may use is not damage: a
        // progressive picture that large needs more than it is given.
        const int code = d.errors.manager.msg_code;
        if (code == JERR_NO_BACKING_STORE || code == JERR_OUT_OF_MEMORY) {
            outcome->failure = ReadFailure::DecoderLimit;
            outcome->detail = "256 MiB";
        }
        jpeg_destroy_decompress(&d.cinfo);
        freeImageRecord(record);
        std::snprintf(outcome->message, sizeof outcome->message, "%s",
                      d.errors.warning[0] != '\0' ? d.errors.warning : d.errors.error);
        return nullptr;
    }
    openDecoder(d);
    setupSource(&d.cinfo, input, size);
    jpeg_read_header(&d.cinfo, TRUE);
    JpegPlan plan = planDecode(&d.cinfo, request);
    outcome->failure = refusePlan(&d.cinfo, plan, request, maxPixelBytes);
    if (outcome->failure != ReadFailure::None) {
        if (outcome->failure == ReadFailure::Unsupported)
            outcome->detail = "colour format";
        jpeg_destroy_decompress(&d.cinfo);
        return nullptr;
    }
    jpeg_start_decompress(&d.cinfo);
    request.started = true;

    ImageRecord* made = createImageRecord();
    record = made;
    if (!makeRecords(plan, request, made) || (plan.shrink && !makeShrinkers(&d.cinfo, plan, made, request, shrinker)))
        outcome->failure = ReadFailure::NoMemory;
    const JpegRows rows = libraryRows(&d.cinfo, plan);
    const bool decoded = outcome->failure == ReadFailure::None &&
                         (!plan.shrink || decodeShrinking(&d.cinfo, plan, rows, request, shrinker)) &&
                         decodeRows(&d.cinfo, plan, rows, made, request);
    if (!decoded) {
        jpeg_destroy_decompress(&d.cinfo);
        freeImageRecord(made);
        return nullptr;
    }

    // The library writes only the pixels of a row; the fill bytes up to the
    // pitch are cleared so that the whole block is defined (copies and views
    // read rows whole, and the same file always gives the same bytes).
    clearRowFill(*made);

    // An error here (damage after the last row) still jumps to the recovery
    // point and gives no picture.
    jpeg_finish_decompress(&d.cinfo);
    jpeg_destroy_decompress(&d.cinfo);
    std::snprintf(outcome->message, sizeof outcome->message, "%s", d.errors.warning);
    outcome->endedEarly = d.errors.endedEarly;
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
    if (!image && request.colour && !request.started && std::fseek(file, 0, SEEK_SET) == 0) {
        // Colour needs the chroma decoded and upsampled, which the library
        // refuses, before it decodes anything, for some sampling factors
        // that gray output never touches: the gray picture alone, then, as
        // without colour. A stream that failed once decoding began is not
        // read again.
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
    if (!image && request.colour && !request.started) {
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
