// How close diffusedither's 256-colour pictures come to the originals, beside
// ImageMagick's `-colors 256 -dither FloydSteinberg` on the same pictures:
// PSNR figures, printed, not judged. The module's median cut is its own and
// is not tuned to win. Skipped, with a message, where ImageMagick is missing.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <random>
#include <sstream>
#include <string>
#include <vector>

#include <unistd.h>

#include "kernel_test.h"

namespace {

namespace fs = std::filesystem;
using Bytes = std::vector<uint8_t>;

const char* const kConvert = "convert-im6.q16";

bool succeeds(const std::string& command) { return std::system((command + " >/dev/null 2>&1").c_str()) == 0; }

struct Picture {
    std::string name;
    uint32_t width = 0, height = 0;
    Bytes rgb;
};

Bytes read_file(const fs::path& path)
{
    std::ifstream in(path, std::ios::binary);
    return Bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

void write_ppm(const fs::path& path, const Picture& p)
{
    std::ofstream out(path, std::ios::binary);
    out << "P6\n" << p.width << " " << p.height << "\n255\n";
    out.write(reinterpret_cast<const char*>(p.rgb.data()), std::streamsize(p.rgb.size()));
}

// Soft colour fields: a sky-like gradient under overlapping blurred blobs,
// with a little grain.
Picture soft_shapes(uint32_t width, uint32_t height)
{
    Picture p{"soft shapes", width, height, Bytes(size_t(width) * height * 3)};
    struct Blob {
        double x, y, radius, r, g, b;
    };
    const Blob blobs[] = {{0.3, 0.6, 0.20, 220, 90, 40},  {0.7, 0.4, 0.25, 40, 160, 70},
                          {0.5, 0.8, 0.15, 250, 220, 90}, {0.2, 0.2, 0.12, 120, 60, 160},
                          {0.8, 0.8, 0.18, 90, 40, 30}};
    std::mt19937 random(11);
    for (uint32_t y = 0; y < height; ++y)
        for (uint32_t x = 0; x < width; ++x) {
            const double u = double(x) / width, v = double(y) / height;
            double c[3] = {70 + 80 * v, 120 + 70 * v, 230 - 60 * v};
            for (const Blob& b : blobs) {
                const double d2 = ((u - b.x) * (u - b.x) + (v - b.y) * (v - b.y)) / (b.radius * b.radius);
                const double a = std::exp(-d2);
                c[0] = c[0] * (1 - a) + b.r * a;
                c[1] = c[1] * (1 - a) + b.g * a;
                c[2] = c[2] * (1 - a) + b.b * a;
            }
            for (int k = 0; k < 3; ++k) {
                const double grain = double(random() % 9) - 4;
                p.rgb[(size_t(y) * width + x) * 3 + k] = uint8_t(std::clamp(c[k] + grain, 0.0, 255.0));
            }
        }
    return p;
}

// Diagonal gradients in each component with a little noise.
Picture gradients(uint32_t width, uint32_t height)
{
    Picture p{"gradients and grain", width, height, Bytes(size_t(width) * height * 3)};
    std::mt19937 random(3);
    for (uint32_t y = 0; y < height; ++y)
        for (uint32_t x = 0; x < width; ++x)
            for (uint32_t c = 0; c < 3; ++c) {
                const uint32_t base = (x * (c + 1) * 255 / width + y * (3 - c) * 255 / height) / 3;
                p.rgb[(size_t(y) * width + x) * 3 + c] = uint8_t(std::min<uint32_t>(255, base + random() % 12));
            }
    return p;
}

// ImageMagick's built-in photograph, read back through a PPM file.
bool builtin_rose(const fs::path& dir, Picture& p)
{
    const fs::path ppm = dir / "rose.ppm";
    if (!succeeds(std::string(kConvert) + " rose: '" + ppm.string() + "'")) return false;
    const Bytes file = read_file(ppm);
    std::istringstream header(std::string(file.begin(), file.begin() + std::min<size_t>(file.size(), 64)));
    std::string magic;
    uint32_t maxval = 0;
    header >> magic >> p.width >> p.height >> maxval;
    const size_t at = size_t(header.tellg()) + 1;
    if (magic != "P6" || maxval != 255 || file.size() < at + size_t(p.width) * p.height * 3) return false;
    p.name = "ImageMagick rose:";
    p.rgb.assign(file.begin() + long(at), file.begin() + long(at + size_t(p.width) * p.height * 3));
    return true;
}

double psnr(const Bytes& a, const Bytes& b)
{
    double squares = 0;
    for (size_t i = 0; i < a.size(); ++i) squares += double(int(a[i]) - int(b[i])) * (int(a[i]) - int(b[i]));
    const double mse = squares / double(a.size());
    return mse == 0 ? 99.0 : 10 * std::log10(255.0 * 255.0 / mse);
}

// diffusedither at depth 8, the result shown through the palette it chose.
Bytes diffuse_dither(const Picture& p, uint32_t mode)
{
    const host_module* module = load_module("diffusedither");
    if (module == nullptr) return {};
    SharedArena arena;
    const uint32_t pixels = p.width * p.height;
    uint8_t* indices = arena.alloc(pixels);
    uint8_t* record = arena.alloc(820);
    host_set_word(record, 2, p.width);
    host_set_word(record, 3, p.height);
    host_set_word(record, 4, 8);
    uint8_t* block = arena.block(28, {{2, host_address(arena.copy(p.rgb))}, {3, host_address(indices)},
                                      {4, host_address(record)}, {5, mode}});
    host_call(module, block, 1);
    EXPECT_EQ(host_word(block, 6), 0u);
    Bytes shown(size_t(pixels) * 3);
    for (uint32_t i = 0; i < pixels; ++i) std::memcpy(&shown[3 * i], record + 24 + 3 * indices[i], 3);
    return shown;
}

// ImageMagick's 256 colours with Floyd-Steinberg, from a PNG to a PNG.
Bytes imagemagick_colors_256(const fs::path& dir, const Picture& p)
{
    const fs::path ppm = dir / "in.ppm", in = dir / "in.png", out = dir / "out.png", rgb = dir / "out.rgb";
    write_ppm(ppm, p);
    const std::string q = "'";
    if (!succeeds(std::string(kConvert) + " " + q + ppm.string() + q + " " + q + in.string() + q)) return {};
    if (!succeeds(std::string(kConvert) + " " + q + in.string() + q + " -colors 256 -dither FloydSteinberg " + q +
                  out.string() + q))
        return {};
    if (!succeeds(std::string(kConvert) + " " + q + out.string() + q + " -depth 8 rgb:" + q + rgb.string() + q))
        return {};
    return read_file(rgb);
}

TEST(ColourQuality, DiffuseDitherBesideImageMagickAt256Colours)
{
    if (!succeeds(std::string(kConvert) + " -version"))
        GTEST_SKIP() << "ImageMagick's convert-im6.q16 not found (Debian package imagemagick): no quality figure";
    const fs::path dir = fs::temp_directory_path() / ("colour_quality_" + std::to_string(getpid()));
    fs::create_directories(dir);

    std::vector<Picture> pictures = {soft_shapes(320, 240), gradients(320, 240)};
    Picture rose;
    if (builtin_rose(dir, rose)) pictures.push_back(rose);

    std::printf("\nPSNR in dB against the original, 256 colours\n");
    std::printf("%-22s %9s | %9s %9s %9s | %12s\n", "picture", "size", "mode 0", "FS", "Burkes", "ImageMagick");
    for (const Picture& p : pictures) {
        const Bytes magick = imagemagick_colors_256(dir, p);
        ASSERT_EQ(magick.size(), p.rgb.size()) << "ImageMagick gave no picture for " << p.name;
        double figures[3];
        for (uint32_t mode = 0; mode < 3; ++mode) {
            const Bytes shown = diffuse_dither(p, mode);
            ASSERT_EQ(shown.size(), p.rgb.size());
            figures[mode] = psnr(p.rgb, shown);
        }
        const double theirs = psnr(p.rgb, magick);
        std::printf("%-22s %4ux%-4u | %9.2f %9.2f %9.2f | %12.2f\n", p.name.c_str(), p.width, p.height, figures[0],
                    figures[1], figures[2], theirs);
        RecordProperty(p.name + " FS dB", std::to_string(figures[1]));
        RecordProperty(p.name + " ImageMagick dB", std::to_string(theirs));
    }
    std::fflush(stdout);
    fs::remove_all(dir);
}

} // namespace
