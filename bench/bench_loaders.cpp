// The picture loaders beside the libraries people would otherwise use: the
// GIF decoder against giflib's DGifSlurp on the same bytes, and the JPEG
// reader against a bare libjpeg gray decode of the same file.
#include <benchmark/benchmark.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <gif_lib.h>
#include <jpeglib.h>
#include <string>
#include <unistd.h>
#include <vector>

#include "bench/synthetic_picture.h"
#include "image/gif_decoder.h"
#include "image/jpeg_reader.h"

using namespace morvel;

namespace {

constexpr int32_t kGifWidth = 2400;
constexpr int32_t kGifHeight = 1800;
constexpr int32_t kJpegWidth = 4000;
constexpr int32_t kJpegHeight = 3000;

int appendBytes(GifFileType* gif, const GifByteType* data, int length)
{
    auto* bytes = static_cast<std::vector<uint8_t>*>(gif->UserData);
    bytes->insert(bytes->end(), data, data + length);
    return length;
}

// The photo-like picture as a GIF89a with a 256-gray colour table, encoded by giflib.
const std::vector<uint8_t>& gifBytes()
{
    static const std::vector<uint8_t> bytes = [] {
        std::vector<uint8_t> out;
        ImageHandle gray = bench::photoLikeGray(kGifWidth, kGifHeight, 5);
        int error = 0;
        GifFileType* gif = EGifOpen(&out, appendBytes, &error);
        ColorMapObject* map = GifMakeMapObject(256, nullptr);
        for (int i = 0; i < 256; ++i)
            map->Colors[i] =
                GifColorType{static_cast<GifByteType>(i), static_cast<GifByteType>(i), static_cast<GifByteType>(i)};
        EGifSetGifVersion(gif, true);
        bool ok = EGifPutScreenDesc(gif, kGifWidth, kGifHeight, 8, 0, map) == GIF_OK &&
                  EGifPutImageDesc(gif, 0, 0, kGifWidth, kGifHeight, false, nullptr) == GIF_OK;
        for (int32_t y = 0; ok && y < kGifHeight; ++y)
            ok = EGifPutLine(gif, gray->rows[y], kGifWidth) == GIF_OK;
        EGifCloseFile(gif, &error);
        GifFreeMapObject(map);
        if (!ok) {
            std::fprintf(stderr, "bench_loaders: cannot encode the GIF\n");
            std::exit(1);
        }
        return out;
    }();
    return bytes;
}

struct Reader {
    const std::vector<uint8_t>* bytes;
    size_t at;
};

int readBytes(GifFileType* gif, GifByteType* into, int length)
{
    auto* reader = static_cast<Reader*>(gif->UserData);
    const size_t left = reader->bytes->size() - reader->at;
    const size_t n = static_cast<size_t>(length) < left ? static_cast<size_t>(length) : left;
    std::memcpy(into, reader->bytes->data() + reader->at, n);
    reader->at += n;
    return static_cast<int>(n);
}

void BM_GifDecoder(benchmark::State& state)
{
    const std::vector<uint8_t>& bytes = gifBytes();
    for (auto _ : state) {
        ImageHandle image = decodeGif(bytes.data(), bytes.size());
        if (!image) {
            state.SkipWithError("no picture");
            return;
        }
        benchmark::DoNotOptimize(image->pixels);
    }
    state.SetBytesProcessed(state.iterations() * int64_t{kGifWidth} * kGifHeight);
    state.SetLabel(std::to_string(bytes.size()) + " bytes");
}
BENCHMARK(BM_GifDecoder)->Unit(benchmark::kMillisecond);

void BM_GiflibSlurp(benchmark::State& state)
{
    const std::vector<uint8_t>& bytes = gifBytes();
    for (auto _ : state) {
        Reader reader{&bytes, 0};
        int error = 0;
        GifFileType* gif = DGifOpen(&reader, readBytes, &error);
        if (!gif || DGifSlurp(gif) != GIF_OK) {
            state.SkipWithError("giflib failed");
            return;
        }
        benchmark::DoNotOptimize(gif->SavedImages[0].RasterBits);
        DGifCloseFile(gif, &error);
    }
    state.SetBytesProcessed(state.iterations() * int64_t{kGifWidth} * kGifHeight);
}
BENCHMARK(BM_GiflibSlurp)->Unit(benchmark::kMillisecond);

// The colour photo-like JPEG, written once to a temporary file.
const std::string& jpegPath()
{
    static const std::string path = [] {
        const std::vector<uint8_t> bytes =
            bench::encodeJpeg(bench::photoLikeRgb(kJpegWidth, kJpegHeight), kJpegWidth, kJpegHeight);
        char name[] = "/tmp/morvel-bench-XXXXXX";
        const int fd = mkstemp(name);
        if (fd < 0 || write(fd, bytes.data(), bytes.size()) != static_cast<ssize_t>(bytes.size())) {
            std::fprintf(stderr, "bench_loaders: cannot write the JPEG\n");
            std::exit(1);
        }
        close(fd);
        std::atexit([] { std::remove(jpegPath().c_str()); });
        return std::string(name);
    }();
    return path;
}

void BM_JpegReader(benchmark::State& state)
{
    const std::string& path = jpegPath();
    for (auto _ : state) {
        ImageHandle image = readJpegFile(path);
        if (!image) {
            state.SkipWithError("no picture");
            return;
        }
        benchmark::DoNotOptimize(image->pixels);
    }
    state.SetBytesProcessed(state.iterations() * int64_t{kJpegWidth} * kJpegHeight);
}
BENCHMARK(BM_JpegReader)->Unit(benchmark::kMillisecond);

// libjpeg alone: open, decode to gray into one block, close.
void BM_LibjpegGray(benchmark::State& state)
{
    const std::string& path = jpegPath();
    for (auto _ : state) {
        std::FILE* file = std::fopen(path.c_str(), "rb");
        jpeg_decompress_struct cinfo;
        jpeg_error_mgr jerr;
        cinfo.err = jpeg_std_error(&jerr);
        jpeg_create_decompress(&cinfo);
        jpeg_stdio_src(&cinfo, file);
        jpeg_read_header(&cinfo, TRUE);
        cinfo.out_color_space = JCS_GRAYSCALE;
        jpeg_start_decompress(&cinfo);
        const size_t pitch = cinfo.output_width;
        std::vector<uint8_t> pixels(pitch * cinfo.output_height);
        while (cinfo.output_scanline < cinfo.output_height) {
            JSAMPROW row = pixels.data() + pitch * cinfo.output_scanline;
            jpeg_read_scanlines(&cinfo, &row, 1);
        }
        jpeg_finish_decompress(&cinfo);
        jpeg_destroy_decompress(&cinfo);
        std::fclose(file);
        benchmark::DoNotOptimize(pixels.data());
    }
    state.SetBytesProcessed(state.iterations() * int64_t{kJpegWidth} * kJpegHeight);
}
BENCHMARK(BM_LibjpegGray)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
