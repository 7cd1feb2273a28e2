// Writes the small picture that `make run` converts: 64 × 32 pixels, 4 planes,
// ByteRun1, a sixteen-colour ramp with a few diagonal bands.
#include <cstdio>

#include "ilbm_writer.h"

int main(int argc, char** argv)
{
    if (argc != 2) {
        std::fprintf(stderr, "usage: make_sample out.iff\n");
        return 2;
    }
    ilbm::Header h;
    h.width = 64;
    h.height = 32;
    h.planes = 4;
    h.compression = 1;
    std::vector<std::uint32_t> pixels;
    for (std::uint32_t y = 0; y < h.height; ++y)
        for (std::uint32_t x = 0; x < h.width; ++x)
            pixels.push_back(((x + y) / 8) % 3 == 0 ? 15 - x / 4 : x / 4);
    std::vector<ilbm::Rgb> colours;
    for (int i = 0; i < 16; ++i)
        colours.push_back({static_cast<std::uint8_t>(i * 17), static_cast<std::uint8_t>(128 + i * 8),
                           static_cast<std::uint8_t>(255 - i * 17)});
    const ilbm::Bytes picture = ilbm::Picture(h, pixels, colours);
    std::FILE* f = std::fopen(argv[1], "wb");
    if (!f || std::fwrite(picture.data(), 1, picture.size(), f) != picture.size() || std::fclose(f) != 0) {
        std::fprintf(stderr, "make_sample: cannot write %s\n", argv[1]);
        return 1;
    }
    return 0;
}
