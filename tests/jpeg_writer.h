// JPEG test pictures made in memory with libjpeg's own compressor.
#pragma once

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <vector>

#include <jpeglib.h>

namespace morvel::testing {

struct JpegParams {
    int width = 8;
    int height = 8;
    J_COLOR_SPACE input = JCS_GRAYSCALE;  // what the samples are
    int components = 1;
    J_COLOR_SPACE stored = JCS_UNKNOWN;  // colour space written to the file; library default when unknown
    bool adobeMarker = true;             // the APP14 marker the library writes for CMYK and YCCK
    int quality = 100;
    bool progressive = false;
    // Sample c of pixel (x, y).
    std::function<uint8_t(int x, int y, int c)> sample = [](int x, int y, int) {
        return static_cast<uint8_t>((x * 31 + y * 17) & 0xFF);
    };
};

// The JPEG file for `params`; `scans`, when given, replaces the library's
// scan script.
inline std::vector<uint8_t> makeJpeg(const JpegParams& params, jpeg_scan_info* scans = nullptr, int scanCount = 0)
{
    jpeg_compress_struct cinfo;
    jpeg_error_mgr errors;
    cinfo.err = jpeg_std_error(&errors);
    jpeg_create_compress(&cinfo);
    unsigned char* buffer = nullptr;
    unsigned long size = 0;
    jpeg_mem_dest(&cinfo, &buffer, &size);
    cinfo.image_width = static_cast<JDIMENSION>(params.width);
    cinfo.image_height = static_cast<JDIMENSION>(params.height);
    cinfo.input_components = params.components;
    cinfo.in_color_space = params.input;
    jpeg_set_defaults(&cinfo);
    if (params.stored != JCS_UNKNOWN)
        jpeg_set_colorspace(&cinfo, params.stored);
    if (!params.adobeMarker)
        cinfo.write_Adobe_marker = FALSE;
    jpeg_set_quality(&cinfo, params.quality, TRUE);
    if (params.progressive)
        jpeg_simple_progression(&cinfo);
    if (scans) {
        cinfo.scan_info = scans;
        cinfo.num_scans = scanCount;
    }
    jpeg_start_compress(&cinfo, TRUE);
    std::vector<uint8_t> row(static_cast<size_t>(params.width * params.components));
    while (cinfo.next_scanline < cinfo.image_height) {
        const int y = static_cast<int>(cinfo.next_scanline);
        for (int x = 0; x < params.width; ++x)
            for (int c = 0; c < params.components; ++c)
                row[static_cast<size_t>(x * params.components + c)] = params.sample(x, y, c);
        JSAMPROW rowPointer = row.data();
        jpeg_write_scanlines(&cinfo, &rowPointer, 1);
    }
    jpeg_finish_compress(&cinfo);
    jpeg_destroy_compress(&cinfo);
    std::vector<uint8_t> bytes(buffer, buffer + size);
    std::free(buffer);
    return bytes;
}

}  // namespace morvel::testing
