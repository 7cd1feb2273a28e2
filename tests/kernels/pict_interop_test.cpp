// pictrender against ImageMagick's PICT writer: pictures made by
// `convert-im6.q16 in.png PICT:out.pict`, indexed and true colour, render to
// the pixels of the picture they were made from. Skipped, with a message,
// where ImageMagick is missing.
//
// ImageMagick writes version 2 with a 0x0C00 header and a clip of the frame,
// indexed pictures as 0x98 with their colour table and true colour as 0x9A
// at 32 bits, three components packed. Two of its habits are a dialect of
// its own, left out of the comparison: it packs every row, also those of
// fewer than 8 row bytes that QuickDraw stores as they are (indexed widths
// below 8, true-colour width 1); and it takes word-sized packed lengths above
// 200 row bytes instead of 250 (indexed widths 201 to 250, and true-colour
// widths 63 to 66, whose 3 x width packed bytes it counts against 200).
#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "kernel_test.h"
#include "pict_writer.h"

namespace {

namespace fs = std::filesystem;
using pict::Bytes;

bool succeeds(const std::string& command) { return std::system((command + " >/dev/null 2>&1").c_str()) == 0; }

const std::string& imagemagick()
{
    static const std::string found = [] {
        for (const char* candidate : {"/usr/bin/convert-im6.q16", "convert-im6.q16"})
            if (succeeds(std::string(candidate) + " -version")) return std::string(candidate);
        return std::string();
    }();
    return found;
}

Bytes read_file(const fs::path& path)
{
    std::ifstream in(path, std::ios::binary);
    return Bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

// A binary PPM of the given red, green, blue pixels.
Bytes ppm(uint32_t width, uint32_t height, const Bytes& rgb)
{
    const std::string header = "P6\n" + std::to_string(width) + " " + std::to_string(height) + "\n255\n";
    Bytes out(header.begin(), header.end());
    out.insert(out.end(), rgb.begin(), rgb.end());
    return out;
}

// Indexed: 40 colours in stretches of three pixels, so that rows pack into
// runs and literals alike. True colour: a gradient with a little noise.
Bytes source_pixels(bool indexed, uint32_t width, uint32_t height)
{
    Bytes rgb;
    uint32_t seed = width * 131 + height;
    for (uint32_t y = 0; y < height; ++y)
        for (uint32_t x = 0; x < width; ++x) {
            seed = seed * 1103515245u + 12345u;
            if (indexed) {
                const uint32_t k = (x / 3 + y * 7) % 40;
                rgb.insert(rgb.end(), {uint8_t(k * 23 + 5), uint8_t(k * 71), uint8_t(255 - k * 5)});
            } else {
                const uint8_t noise = uint8_t((seed >> 16) & 15);
                rgb.insert(rgb.end(), {uint8_t(x * 3 + noise), uint8_t(y * 40 + x / 2), uint8_t(x ^ (y * 29) ^ noise)});
            }
        }
    return rgb;
}

class PictInterop : public ::testing::Test {
protected:
    fs::path dir;

    void SetUp() override
    {
        std::string pattern = (fs::temp_directory_path() / "pict_interop_XXXXXX").string();
        ASSERT_NE(mkdtemp(pattern.data()), nullptr);
        dir = pattern;
    }
    void TearDown() override
    {
        std::error_code ignored;
        if (!dir.empty()) fs::remove_all(dir, ignored);
    }

    // Makes in.png from the pixels (8-bit palette or 24-bit), converts it to
    // PICT with ImageMagick and renders the file; checks the first image
    // opcode is the one expected of the kind.
    void expect_rendered_as_made(bool indexed, uint32_t width, uint32_t height)
    {
        char name[32];
        std::snprintf(name, sizeof name, "%s%ux%u", indexed ? "indexed_" : "true_", width, height);
        SCOPED_TRACE(name);
        const Bytes rgb = source_pixels(indexed, width, height);
        const std::string stem = (dir / name).string();
        ASSERT_TRUE(pict::write_file(stem + ".ppm", ppm(width, height, rgb)));
        const std::string png = stem + ".png", out = stem + ".pict";
        ASSERT_TRUE(succeeds(imagemagick() + " " + stem + ".ppm " + (indexed ? "PNG8:" : "PNG24:") + png));
        ASSERT_TRUE(succeeds(imagemagick() + " " + png + " PICT:" + out));

        // The header, the 0x0C00 opcode and the clip come first.
        const Bytes file = read_file(out);
        ASSERT_GT(file.size(), 566u);
        EXPECT_EQ(file[564] << 8 | file[565], indexed ? 0x98 : 0x9A);

        const pict::Rendered r = pict::render_file(out);
        EXPECT_EQ(r.error, 0u);
        ASSERT_TRUE(r.has_pixels);
        EXPECT_EQ(r.width, width);
        EXPECT_EQ(r.height, height);
        EXPECT_EQ(r.rgb, rgb);
    }
};

#define REQUIRE_IMAGEMAGICK()                                                                              \
    if (imagemagick().empty())                                                                            \
    GTEST_SKIP() << "ImageMagick's convert-im6.q16 not found (Debian package imagemagick): PICT interop not tested"

TEST_F(PictInterop, IndexedPicturesRenderExactly)
{
    REQUIRE_IMAGEMAGICK();
    for (uint32_t width : {8u, 9u, 13u, 40u, 127u, 200u, 251u, 300u, 1000u}) expect_rendered_as_made(true, width, 5);
}

TEST_F(PictInterop, TrueColourPicturesRenderExactlyInTheHighBytes)
{
    REQUIRE_IMAGEMAGICK();
    for (uint32_t width : {2u, 3u, 7u, 20u, 62u, 67u, 100u, 301u}) expect_rendered_as_made(false, width, 4);
}

} // namespace
