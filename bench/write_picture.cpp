// bench_write_picture OUT.jpg WIDTH HEIGHT: writes the benchmarks' photo-like
// picture as a colour JPEG, for timing the converter end to end.
#include <cstdio>
#include <cstdlib>

#include "bench/synthetic_picture.h"

int main(int argc, char** argv)
{
    if (argc != 4) {
        std::fprintf(stderr, "usage: bench_write_picture OUT.jpg WIDTH HEIGHT\n");
        return 2;
    }
    const int width = std::atoi(argv[2]);
    const int height = std::atoi(argv[3]);
    if (width <= 0 || height <= 0 || width > 30000 || height > 30000) {
        std::fprintf(stderr, "bench_write_picture: bad size\n");
        return 2;
    }
    const std::vector<uint8_t> jpeg =
        morvel::bench::encodeJpeg(morvel::bench::photoLikeRgb(width, height), width, height);
    std::FILE* out = std::fopen(argv[1], "wb");
    if (!out || std::fwrite(jpeg.data(), 1, jpeg.size(), out) != jpeg.size() || std::fclose(out) != 0) {
        std::fprintf(stderr, "bench_write_picture: cannot write %s\n", argv[1]);
        return 1;
    }
    return 0;
}
