#include "bench/synthetic_picture.h"

#include <cmath>
#include <cstdio>  // before jpeglib.h, which uses FILE
#include <cstdlib>
#include <jpeglib.h>

namespace morvel::bench {

namespace {

struct Blob {
    double x, y, radius, level;
};

uint8_t clampByte(double v)
{
    return static_cast<uint8_t>(v < 0 ? 0 : v > 255 ? 255 : v);
}

}  // namespace

// The scene's light at (x, y) per channel, 0..255 before grain.
struct Scene {
    int32_t width, height;
    std::vector<Blob> blobs;
    uint32_t state;

    Scene(int32_t w, int32_t h, uint32_t seed) : width(w), height(h), state(seed * 2654435761u + 1)
    {
        for (int i = 0; i < 24; ++i) {
            const double bx = next() % 1000 / 1000.0 * w;
            const double by = next() % 1000 / 1000.0 * h;
            const double r = (0.03 + next() % 1000 / 1000.0 * 0.15) * (w < h ? w : h);
            blobs.push_back({bx, by, r, (next() % 512) - 256.0});
        }
    }

    uint32_t next()
    {
        state ^= state << 13;
        state ^= state >> 17;
        state ^= state << 5;
        return state;
    }

    double light(int32_t x, int32_t y) const { return lightAmong(blobs, x, y); }

    // The blobs that reach row y, in order: the others add nothing there.
    std::vector<Blob> blobsOnRow(int32_t y) const
    {
        std::vector<Blob> on;
        for (const Blob& b : blobs)
            if ((y - b.y) * (y - b.y) < b.radius * b.radius)
                on.push_back(b);
        return on;
    }

    double lightAmong(const std::vector<Blob>& near, int32_t x, int32_t y) const
    {
        const double u = static_cast<double>(x) / width;
        const double v = static_cast<double>(y) / height;
        double value = 70.0 + 120.0 * u * (1.0 - 0.5 * v) + 30.0 * std::sin(9.0 * u + 4.0 * v);
        for (const Blob& b : near) {
            const double dx = x - b.x;
            const double dy = y - b.y;
            const double d2 = (dx * dx + dy * dy) / (b.radius * b.radius);
            if (d2 < 1.0)
                value += b.level * 0.35 * (1.0 - d2);  // soft shading inside
        }
        // A few hard-edged stripes, like window frames or fences.
        if (static_cast<int32_t>(u * 40) % 9 == 0 && v > 0.55)
            value -= 80.0;
        return value;
    }
};

PhotoLikeRows::PhotoLikeRows(int32_t width, int32_t height, uint32_t seed, bool grain)
    : scene_(std::make_unique<Scene>(width, height, seed)), grain_(grain)
{}

PhotoLikeRows::~PhotoLikeRows() = default;

void PhotoLikeRows::nextGray(uint8_t* gray)
{
    const std::vector<Blob> near = scene_->blobsOnRow(y_);
    for (int32_t x = 0; x < scene_->width; ++x) {
        const int grain = grain_ ? static_cast<int>(scene_->next() % 17) - 8 : 0;
        gray[x] = clampByte(scene_->lightAmong(near, x, y_) + grain);
    }
    ++y_;
}

void PhotoLikeRows::nextRgb(uint8_t* rgb)
{
    const std::vector<Blob> near = scene_->blobsOnRow(y_);
    for (int32_t x = 0; x < scene_->width; ++x) {
        const int grain = grain_ ? static_cast<int>(scene_->next() % 17) - 8 : 0;
        const double l = scene_->lightAmong(near, x, y_) + grain;
        *rgb++ = clampByte(l * 1.05 + 10.0);
        *rgb++ = clampByte(l);
        *rgb++ = clampByte(l * 0.85 + 20.0 * std::sin(x * 0.002));
    }
    ++y_;
}

ImageHandle photoLikeGray(int32_t width, int32_t height, uint32_t seed)
{
    Scene scene(width, height, seed);
    ImageHandle image = makeGrayImage(width, height);
    if (!image)
        return image;
    for (int32_t y = 0; y < height; ++y)
        for (int32_t x = 0; x < width; ++x)
            image->rows[y][x] = clampByte(scene.light(x, y) + static_cast<int>(scene.next() % 17) - 8);
    return image;
}

std::vector<uint8_t> photoLikeRgb(int32_t width, int32_t height, uint32_t seed)
{
    Scene scene(width, height, seed);
    std::vector<uint8_t> rgb(static_cast<size_t>(width) * static_cast<size_t>(height) * 3);
    size_t i = 0;
    for (int32_t y = 0; y < height; ++y) {
        for (int32_t x = 0; x < width; ++x) {
            const double l = scene.light(x, y) + static_cast<int>(scene.next() % 17) - 8;
            rgb[i++] = clampByte(l * 1.05 + 10.0);
            rgb[i++] = clampByte(l);
            rgb[i++] = clampByte(l * 0.85 + 20.0 * std::sin(x * 0.002));
        }
    }
    return rgb;
}

std::vector<uint8_t> encodeJpeg(const std::vector<uint8_t>& rgb, int32_t width, int32_t height, int quality)
{
    jpeg_compress_struct cinfo;
    jpeg_error_mgr jerr;
    cinfo.err = jpeg_std_error(&jerr);
    jpeg_create_compress(&cinfo);
    unsigned char* buffer = nullptr;
    unsigned long size = 0;
    jpeg_mem_dest(&cinfo, &buffer, &size);
    cinfo.image_width = static_cast<JDIMENSION>(width);
    cinfo.image_height = static_cast<JDIMENSION>(height);
    cinfo.input_components = 3;
    cinfo.in_color_space = JCS_RGB;
    jpeg_set_defaults(&cinfo);
    jpeg_set_quality(&cinfo, quality, TRUE);
    jpeg_start_compress(&cinfo, TRUE);
    while (cinfo.next_scanline < cinfo.image_height) {
        JSAMPROW row = const_cast<uint8_t*>(rgb.data()) + static_cast<size_t>(cinfo.next_scanline) * width * 3;
        jpeg_write_scanlines(&cinfo, &row, 1);
    }
    jpeg_finish_compress(&cinfo);
    std::vector<uint8_t> bytes(buffer, buffer + size);
    jpeg_destroy_compress(&cinfo);
    std::free(buffer);
    return bytes;
}

}  // namespace morvel::bench
