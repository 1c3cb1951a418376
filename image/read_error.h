// Why a reader gave no picture, as a value: what went wrong (the failure),
// in which format, and the words of the library or the system that saw it.
// Readers only fill it in; the one message shown to a person is made from
// it by messageOf, so no caller guesses a cause by looking at the bytes
// again.
#pragma once

#include <string>

namespace morvel {

// The picture formats the load sequence tells apart by their signatures.
enum class PictureFormat {
    Unknown,
    Gif,
    Png,
    Jpeg,
    Webp,
    Heif,
    Tiff,
    Bmp,
};

// The reason given for bytes that no reader takes.
inline constexpr const char* kNotAPictureReason = "not a GIF, JPEG, PNG, WebP, HEIC, AVIF, TIFF or BMP file";

enum class ReadFailure {
    None,          // a picture was read
    NotAPicture,   // no known signature at the start of the bytes
    CannotOpen,    // the system would not give the bytes (detail: its words)
    TooLarge,      // the file, or the picture's pixel block, passes the 1 GiB limit
    Damaged,       // the bytes break the format (detail: the library's words, if any)
    Unsupported,   // a valid variant the reader does not take (detail: which)
    DecoderLimit,  // the decoding library's own working memory would not do (detail: how much it had)
    NoMemory,      // the memory for the picture could not be had
    NotInstalled,  // the library that decodes the format is not installed (detail: the loader's words)
};

struct ReadError {
    ReadFailure failure = ReadFailure::None;
    PictureFormat format = PictureFormat::Unknown;
    std::string detail;

    explicit operator bool() const { return failure != ReadFailure::None; }
};

// The format's name as people write it ("GIF", "JPEG", "PNG", "WebP", ...).
const char* formatName(PictureFormat format);

// The reason in a few words for a message, e.g. "damaged JPEG data
// (Premature end of JPEG file)", "picture larger than the 1 GiB limit";
// empty for ReadFailure::None.
std::string messageOf(const ReadError& error);

// Sets *out (when given) to a failure of `format`; returns false, so that a
// reader can write `return fail(error, ...)` where it gives up.
bool fail(ReadError* out, ReadFailure failure, PictureFormat format, std::string detail = {});

}  // namespace morvel
