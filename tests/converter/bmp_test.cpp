// The BMP files Quilmo writes: layouts by depth, the palette, and the paths
// on which no whole file can be written.
#include <gtest/gtest.h>

#include <cstring>

#include "bmp.h"
#include "harness.h"

namespace {

using namespace harness;
using ilbm::Bytes;
using ilbm::Rgb;

struct Layout {
    const char* name;
    std::uint32_t planes, width, height;
    std::uint32_t bits, rowLength, paletteEntries, importantColours;
};

void PrintTo(const Layout& c, std::ostream* os)
{
    *os << c.name;
}

class BmpLayout : public ScratchTest, public ::testing::WithParamInterface<Layout> {};

TEST_P(BmpLayout, HeaderRowsAndPalette)
{
    const Layout& c = GetParam();
    ilbm::Header h;
    h.width = c.width;
    h.height = c.height;
    h.planes = c.planes;
    h.compression = 1;
    auto pixels = Pattern(c.width, c.height, c.planes);
    std::vector<Rgb> colours = Ramp(c.planes == 24 ? 0 : 1u << c.planes);
    Rgb24 expected = FromPalette(pixels, c.width, c.height, colours);
    if (c.planes == 24) {
        expected.rgb.clear();
        for (std::uint32_t v : pixels)
            expected.rgb.insert(expected.rgb.end(), {std::uint8_t(v), std::uint8_t(v >> 8), std::uint8_t(v >> 16)});
    }
    const Outcome run = Convert(ilbm::Picture(h, pixels, colours));
    ASSERT_EQ(run.status, 0) << run.out;

    const Bytes b = ReadFile(Path("out.bmp"));
    const std::uint32_t paletteSize = 4 * c.paletteEntries;
    const std::uint32_t bitmapSize = c.rowLength * c.height;
    const std::uint32_t fileSize = 54 + paletteSize + bitmapSize;
    ASSERT_EQ(b.size(), fileSize);
    EXPECT_TRUE(run.out.ends_with("\nBMP Filesize:   " + std::to_string(fileSize) +
                                  "\nBMP Bitmapsize: " + std::to_string(bitmapSize) + "\n"))
        << run.out;
    EXPECT_EQ(b[0], 'B');
    EXPECT_EQ(b[1], 'M');
    EXPECT_EQ(LE32(b, 2), fileSize);
    EXPECT_EQ(LE32(b, 6), 0u);
    EXPECT_EQ(LE32(b, 10), 54 + paletteSize);
    EXPECT_EQ(LE32(b, 14), 40u);
    EXPECT_EQ(LE32(b, 18), c.width);
    EXPECT_EQ(LE32(b, 22), c.height);
    EXPECT_EQ(LE16(b, 26), 1u);
    EXPECT_EQ(LE16(b, 28), c.bits);
    EXPECT_EQ(LE32(b, 30), 0u);
    EXPECT_EQ(LE32(b, 34), bitmapSize);
    EXPECT_EQ(LE32(b, 38), 0u);
    EXPECT_EQ(LE32(b, 42), 0u);
    EXPECT_EQ(LE32(b, 46), c.paletteEntries);
    EXPECT_EQ(LE32(b, 50), c.importantColours);

    // Palette: blue, green, red, 0; entries the colour map does not reach are black.
    for (std::uint32_t i = 0; i < c.paletteEntries; ++i) {
        const Rgb k = i < colours.size() ? colours[i] : Rgb{0, 0, 0};
        EXPECT_EQ(Bytes(b.begin() + 54 + 4 * i, b.begin() + 58 + 4 * i), (Bytes{k[2], k[1], k[0], 0})) << i;
    }
    // Every bit past the last pixel of a row is 0.
    const std::uint64_t usedBits = std::uint64_t{c.width} * c.bits;
    for (std::uint32_t y = 0; y < c.height; ++y) {
        const std::size_t row = 54 + paletteSize + y * c.rowLength;
        for (std::uint64_t bit = usedBits; bit < 8ull * c.rowLength; ++bit)
            EXPECT_EQ((b[row + bit / 8] >> (7 - bit % 8)) & 1, 0) << "row " << y << " bit " << bit;
    }
    ExpectPixels(Path("out.bmp"), expected);
}

INSTANTIATE_TEST_SUITE_P(
    Depths, BmpLayout,
    ::testing::Values(
        Layout{"OnePlaneWidth10", 1, 10, 3, 1, 4, 2, 2},
        Layout{"OnePlaneWidth33", 1, 33, 2, 1, 8, 2, 2},
        Layout{"TwoPlanes", 2, 5, 2, 4, 4, 16, 4},
        Layout{"ThreePlanes", 3, 7, 2, 4, 4, 16, 8},
        Layout{"FourPlanesOddWidth", 4, 9, 2, 4, 8, 16, 16},
        Layout{"FivePlanes", 5, 7, 3, 8, 8, 256, 32},
        Layout{"EightPlanesWidthMultipleOf4", 8, 12, 2, 8, 12, 256, 256},
        Layout{"OneRow", 8, 5, 1, 8, 8, 256, 256},
        Layout{"TrueColourWidth3", 24, 3, 2, 24, 12, 0, 0},
        Layout{"TrueColourOddRows", 24, 4, 5, 24, 12, 0, 0}),
    [](const auto& info) { return std::string(info.param.name); });

using BmpFile = ScratchTest;

// The palette holds as many entries as the bits allow, taken from the colour
// map as far as it goes, even past the colours the depth can show.
TEST_F(BmpFile, PaletteEntriesPastTheDepthComeFromTheColourMap)
{
    ilbm::Header h;
    h.width = 4;
    h.height = 1;
    h.planes = 2;
    const std::vector<std::uint32_t> pixels = {0, 1, 2, 3};
    const auto colours = Ramp(6);
    ASSERT_EQ(Convert(ilbm::Picture(h, pixels, colours)).status, 0);
    ExpectPixels(Path("out.bmp"), FromPalette(pixels, 4, 1, colours));
    const Bytes b = ReadFile(Path("out.bmp"));
    for (std::uint32_t i = 0; i < 16; ++i) {
        const Rgb k = i < 6 ? colours[i] : Rgb{0, 0, 0};
        EXPECT_EQ(Bytes(b.begin() + 54 + 4 * i, b.begin() + 58 + 4 * i), (Bytes{k[2], k[1], k[0], 0})) << i;
    }
}

using BmpWriteFailure = ScratchTest;

Bytes LargePicture()
{
    ilbm::Header h;
    h.width = 100;
    h.height = 100;
    h.planes = 24;
    h.compression = 1;
    return ilbm::Picture(h, Pattern(100, 100, 24));
}

const std::string kLargeSaving = "\nSaving as BMP file...\nBMP Filesize:   30054\nBMP Bitmapsize: 30000";

TEST_F(BmpWriteFailure, DestinationCannotBeOpened)
{
    WriteFile(Path("in.iff"), LargePicture());
    const Outcome run = RunQuilmo({Path("in.iff"), Path("no/such/dir/out.bmp")});
    EXPECT_TRUE(run.out.ends_with("\nSaving as BMP file...\nERROR: Can't open destination file!\n")) << run.out;
    EXPECT_EQ(run.status, 1);
}

// A full disk, as a file-size limit: the partial file is removed.
TEST_F(BmpWriteFailure, ShortWriteLeavesNoFile)
{
    WriteFile(Path("in.iff"), LargePicture());
    const Outcome run = RunQuilmo({Path("in.iff"), Path("out.bmp")}, "trap '' XFSZ; ulimit -f 16; ");
    EXPECT_TRUE(run.out.ends_with(kLargeSaving + "\nERROR: Could not write destination file!\n")) << run.out;
    EXPECT_EQ(run.status, 1);
    EXPECT_FALSE(fs::exists(Path("out.bmp")));
}

// The writer flips the picture's rows for the file and back again.
TEST_F(BmpFile, SavingLeavesThePictureAsItWas)
{
    for (const std::uint32_t depth : {8u, 24u}) {
        for (const std::uint32_t height : {1u, 4u, 5u}) {
            ImageRecord image{};
            image.kind = kImageChunky;
            image.width = 3;
            image.height = height;
            image.depth = depth;
            image.bitsPerPixel = depth;
            std::vector<Rgb> colours;
            for (int i = 0; i < 256; ++i) {
                colours.push_back({std::uint8_t(i), std::uint8_t(255 - i), std::uint8_t(i * 3)});
                std::memcpy(image.palette[i], colours.back().data(), 3);
            }
            Bytes pixels(3 * height * (depth / 8));
            for (std::size_t i = 0; i < pixels.size(); ++i)
                pixels[i] = static_cast<std::uint8_t>(i * 7 + 1);
            const Bytes before = pixels;
            image.pixels = pixels.data();
            image.bufferSize = static_cast<std::uint32_t>(pixels.size());
            ASSERT_EQ(SaveBMP(&image, Path("direct.bmp").c_str()), 0);
            EXPECT_EQ(pixels, before) << depth << " bits, " << height << " rows";

            Rgb24 expected = depth == 8 ? FromPalette({before.begin(), before.end()}, 3, height, colours)
                                        : Rgb24{3, height, before};
            ExpectPixels(Path("direct.bmp"), expected);

            // The file's first row is the picture's last.
            const Bytes b = ReadFile(Path("direct.bmp"));
            const std::size_t rowBytes = 3 * depth / 8;
            const std::size_t first = LE32(b, 10);
            const std::size_t last = (height - 1) * rowBytes;
            if (depth == 8) {
                EXPECT_EQ(Bytes(b.begin() + first, b.begin() + first + 3), Bytes(before.begin() + last, before.begin() + last + 3));
            } else {
                EXPECT_EQ(b[first], before[last + 2]);
                EXPECT_EQ(b[first + 2], before[last]);
            }
        }
    }
}

} // namespace
