// bench_write_picture OUT WIDTH HEIGHT [smooth]: writes the benchmarks'
// photo-like picture for timing the converter end to end: a colour baseline
// JPEG (quality 88, 4:2:0) when OUT ends in .jpg, an 8-bit gray PNG when it
// ends in .png. "smooth" leaves out the grain. Rows are made and written one
// at a time, so pictures far larger than memory can be written.
#include <cstdio>  // before jpeglib.h, which uses FILE
#include <cstdlib>
#include <cstring>
#include <jpeglib.h>
#include <spng.h>
#include <string>
#include <vector>

#include "bench/synthetic_picture.h"

namespace {

bool writeJpeg(std::FILE* out, morvel::bench::PhotoLikeRows& rows, int width, int height)
{
    jpeg_compress_struct cinfo;
    jpeg_error_mgr jerr;
    cinfo.err = jpeg_std_error(&jerr);
    jpeg_create_compress(&cinfo);
    jpeg_stdio_dest(&cinfo, out);
    cinfo.image_width = static_cast<JDIMENSION>(width);
    cinfo.image_height = static_cast<JDIMENSION>(height);
    cinfo.input_components = 3;
    cinfo.in_color_space = JCS_RGB;
    jpeg_set_defaults(&cinfo);
    jpeg_set_quality(&cinfo, 88, TRUE);
    jpeg_start_compress(&cinfo, TRUE);
    std::vector<uint8_t> rgb(static_cast<size_t>(width) * 3);
    while (cinfo.next_scanline < cinfo.image_height) {
        rows.nextRgb(rgb.data());
        JSAMPROW row = rgb.data();
        jpeg_write_scanlines(&cinfo, &row, 1);
    }
    jpeg_finish_compress(&cinfo);
    jpeg_destroy_compress(&cinfo);
    return true;
}

bool writePng(std::FILE* out, morvel::bench::PhotoLikeRows& rows, int width, int height)
{
    spng_ctx* ctx = spng_ctx_new(SPNG_CTX_ENCODER);
    if (!ctx)
        return false;
    spng_ihdr ihdr{};
    ihdr.width = static_cast<uint32_t>(width);
    ihdr.height = static_cast<uint32_t>(height);
    ihdr.bit_depth = 8;
    ihdr.color_type = SPNG_COLOR_TYPE_GRAYSCALE;
    bool ok = spng_set_png_file(ctx, out) == 0 && spng_set_ihdr(ctx, &ihdr) == 0 &&
              spng_set_option(ctx, SPNG_IMG_COMPRESSION_LEVEL, 1) == 0 &&
              spng_encode_image(ctx, nullptr, 0, SPNG_FMT_PNG, SPNG_ENCODE_PROGRESSIVE | SPNG_ENCODE_FINALIZE) == 0;
    std::vector<uint8_t> gray(static_cast<size_t>(width));
    for (int y = 0; ok && y < height; ++y) {
        rows.nextGray(gray.data());
        const int status = spng_encode_row(ctx, gray.data(), gray.size());
        ok = status == 0 || (status == SPNG_EOI && y == height - 1);
    }
    spng_ctx_free(ctx);
    return ok;
}

bool endsWith(const std::string& text, const std::string& end)
{
    return text.size() >= end.size() && text.compare(text.size() - end.size(), end.size(), end) == 0;
}

}  // namespace

int main(int argc, char** argv)
{
    if (argc != 4 && !(argc == 5 && std::strcmp(argv[4], "smooth") == 0)) {
        std::fprintf(stderr, "usage: bench_write_picture OUT.jpg|OUT.png WIDTH HEIGHT [smooth]\n");
        return 2;
    }
    const std::string path = argv[1];
    const int width = std::atoi(argv[2]);
    const int height = std::atoi(argv[3]);
    const bool png = endsWith(path, ".png");
    if (width <= 0 || height <= 0 || width > 60000 || height > 60000 || (!png && !endsWith(path, ".jpg"))) {
        std::fprintf(stderr, "bench_write_picture: bad size or name\n");
        return 2;
    }
    morvel::bench::PhotoLikeRows rows(width, height, 1, argc != 5);
    std::FILE* out = std::fopen(path.c_str(), "wb");
    bool ok = out != nullptr && (png ? writePng(out, rows, width, height) : writeJpeg(out, rows, width, height));
    if (out != nullptr && std::fclose(out) != 0)
        ok = false;
    if (!ok) {
        std::fprintf(stderr, "bench_write_picture: cannot write %s\n", path.c_str());
        return 1;
    }
    return 0;
}
