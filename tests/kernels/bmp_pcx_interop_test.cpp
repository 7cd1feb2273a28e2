// The BMP and PCX kernels against independent programs: files written by
// Pillow and ImageMagick decode to the pixels Pillow reads from them, and
// files made from the encoders' output open in Pillow with the pixels that
// went in. Skipped, with a message, where Pillow or ImageMagick is missing.
#include <gtest/gtest.h>

#include <array>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "interop.h"
#include "kernel_test.h"

namespace {

namespace fs = std::filesystem;
using Bytes = std::vector<uint8_t>;
using Rgb = std::array<uint8_t, 3>;

const std::string& pillow_python() { return python_with("PIL"); }

#define REQUIRE_PILLOW()                                                                                   \
    if (pillow_python().empty())                                                                          \
    GTEST_SKIP() << "Pillow not found (Debian package python3-pil): interop with Pillow not tested"
#define REQUIRE_IMAGEMAGICK()                                                                              \
    if (imagemagick_convert().empty())                                                                    \
    GTEST_SKIP() << "ImageMagick's convert not found (Debian package imagemagick): interop not tested"

uint32_t le16(const Bytes& b, size_t at) { return uint32_t(b[at] | b[at + 1] << 8); }
uint32_t le32(const Bytes& b, size_t at) { return le16(b, at) | le16(b, at + 2) << 16; }
void put_le16(Bytes& b, size_t at, uint32_t v)
{
    b[at] = uint8_t(v);
    b[at + 1] = uint8_t(v >> 8);
}
void put_le32(Bytes& b, size_t at, uint32_t v)
{
    put_le16(b, at, v & 0xFFFF);
    put_le16(b, at + 2, v >> 16);
}

// Reads every picture with Pillow in one run: beside each file it leaves
// <file>.rgb (its pixels as red, green, blue) and, for one-band pictures,
// <file>.raw (one value per pixel: palette index, or 0/255 at 1 bit). A file
// Pillow cannot read gets neither.
constexpr const char* kPillowDump = R"(import sys
from PIL import Image
for path in sys.argv[1:]:
    try:
        im = Image.open(path)
        im.load()
    except Exception:
        continue
    open(path + '.rgb', 'wb').write(im.convert('RGB').tobytes())
    if len(im.getbands()) == 1:
        open(path + '.raw', 'wb').write(bytes(im.getdata()))
)";

// Pictures written by Pillow: BMP and PCX at 1 bit, 8-bit palette and true
// colour, widths 1 to 9 and one wider, each PCX file with <file>.src, the
// pixels it was written from, as Pillow's reading gives them; and PNG sources
// for ImageMagick with 2, 12 and 40 colours in stretches of three pixels.
constexpr const char* kPillowMake = R"(import sys
from PIL import Image
out = sys.argv[1]
sizes = [(w, 3) for w in range(1, 10)] + [(37, 5)]
palette = [(i * 29 + 7) % 256 for i in range(768)]
for w, h in sizes:
    one = Image.new('1', (w, h))
    one.putdata([255 if (x * 3 + y * 5) % 7 < 3 else 0 for y in range(h) for x in range(w)])
    pal = Image.new('P', (w, h))
    pal.putpalette(palette)
    pal.putdata([(x // 2 * 7 + y * 13) % 256 for y in range(h) for x in range(w)])
    rgb = Image.new('RGB', (w, h))
    rgb.putdata([((x * 40 + y) % 256, (y * 70 + x // 2) % 256, (x * y * 13) % 256) for y in range(h) for x in range(w)])
    for name, im in (('1', one), ('P', pal), ('RGB', rgb)):
        im.save('%s/pil_%s_%dx%d.bmp' % (out, name, w, h))
        im.save('%s/pil_%s_%dx%d.pcx' % (out, name, w, h))
        src = im.tobytes() if name == 'RGB' else bytes(im.getdata())
        open('%s/pil_%s_%dx%d.pcx.src' % (out, name, w, h), 'wb').write(src)
for w, h in [(w, 8) for w in range(1, 10)] + [(300, 6)]:
    for n in (2, 12, 40):
        im = Image.new('RGB', (w, h))
        ks = [((x // 3) + y * 5) % n for y in range(h) for x in range(w)]
        im.putdata([(k * 23 % 256, k * 71 % 256, k * 131 % 256) for k in ks])
        im.save('%s/src_%d_%dx%d.png' % (out, n, w, h))
)";

class Interop : public ::testing::Test {
protected:
    TempFolder folder{"bmp_pcx_interop"};
    const fs::path& dir = folder.path;

    void SetUp() override { ASSERT_FALSE(dir.empty()); }

    void python(const char* script, const std::string& arguments)
    {
        const fs::path file = dir / "script.py";
        write_file(file, Bytes(script, script + std::string(script).size()));
        ASSERT_TRUE(succeeds(pillow_python() + " " + file.string() + " " + arguments)) << arguments;
    }

    // Pillow's reading of the given files (names inside dir).
    void pillow_reads(const std::vector<std::string>& names)
    {
        std::string arguments;
        for (const auto& name : names) {
            arguments += ' ';
            arguments += (dir / name).string();
        }
        python(kPillowDump, arguments);
    }

    std::vector<std::string> files_with(const std::string& prefix, const std::string& suffix) const
    {
        std::set<std::string> names;
        for (const auto& entry : fs::directory_iterator(dir)) {
            const std::string name = entry.path().filename().string();
            if (name.starts_with(prefix) && name.ends_with(suffix)) names.insert(name);
        }
        return {names.begin(), names.end()};
    }
};

// Runs a module on a block of `size` bytes with argument words from word 2 on.
uint8_t* call_block(SharedArena& arena, const char* module, uint32_t size, const std::vector<uint32_t>& words)
{
    uint8_t* block = arena.block(size);
    for (uint32_t w = 0; w < words.size(); ++w) host_set_word(block, 2 + w, words[w]);
    host_call(load_module(module), block, 1);
    EXPECT_EQ(host_word(block, size / 4 - 1), 0u) << module << " error word";
    return block;
}

// --- BMP -----------------------------------------------------------------------

// The pixel array of a BMP file decoded by bmpload or bmprunload, as red,
// green, blue rows from the top down.
Bytes decode_bmp_file(const Bytes& file, uint32_t* bits, uint32_t* compression)
{
    const uint32_t offset = le32(file, 10);
    const uint32_t info_size = le32(file, 14);
    const uint32_t width = le32(file, 18);
    const int32_t signed_height = int32_t(le32(file, 22));
    const uint32_t height = uint32_t(signed_height < 0 ? -signed_height : signed_height);
    *bits = le16(file, 28);
    *compression = le32(file, 30);
    const uint32_t colours = *bits <= 8 ? (le32(file, 46) ? le32(file, 46) : 1u << *bits) : 0;
    std::vector<Rgb> palette(256);
    for (uint32_t i = 0; i < colours; ++i) {
        const size_t at = 14 + info_size + 4 * i;
        palette[i] = {file[at + 2], file[at + 1], file[at]};
    }

    SharedArena arena;
    const Bytes pixel_array(file.begin() + offset, file.end());
    uint8_t* source = arena.copy(pixel_array);
    const uint32_t channels = *bits == 24 ? 3 : 1;
    uint8_t* decoded = arena.alloc(width * height * channels);
    if (*compression == 0) {
        call_block(arena, "bmpload", 36, {host_address(source), host_address(decoded), width, height, *bits});
    } else {
        call_block(arena, "bmprunload", 36,
                   {host_address(source), host_address(decoded), width, height, *compression == 1 ? 8u : 4u});
    }

    Bytes rgb;
    for (uint32_t r = 0; r < height; ++r) {
        const uint32_t y = signed_height > 0 ? height - 1 - r : r;  // positive height: bottom row first
        const uint8_t* row = decoded + size_t(y) * width * channels;
        for (uint32_t x = 0; x < width; ++x) {
            if (channels == 3) {
                rgb.insert(rgb.end(), row + 3 * x, row + 3 * x + 3);
            } else {
                rgb.insert(rgb.end(), palette[row[x]].begin(), palette[row[x]].end());
            }
        }
    }
    return rgb;
}

TEST_F(Interop, BmpFilesOfOtherProgramsDecodeToPillowsPixels)
{
    REQUIRE_PILLOW();
    python(kPillowMake, dir.string());
    std::vector<std::string> names = files_with("pil_", ".bmp");
    if (!imagemagick_convert().empty()) {
        // One ImageMagick process per picture writes its three BMP files,
        // four processes at a time.
        std::ofstream commands(dir / "commands");
        for (const auto& png : files_with("src_", ".png")) {
            const std::string stem = png.substr(0, png.size() - 4);
            const std::string palette = "im_palette_" + stem + ".bmp", true_colour = "im_true_" + stem + ".bmp",
                              rle = "im_rle_" + stem + ".bmp";
            commands << imagemagick_convert() << " " << (dir / png).string() << " \\( +clone -type Palette -write BMP3:"
                     << (dir / palette).string() << " +delete \\) \\( +clone -type TrueColor -write BMP3:"
                     << (dir / true_colour).string() << " +delete \\) -type Palette -compress RLE BMP3:"
                     << (dir / rle).string() << "\n";
            names.insert(names.end(), {palette, true_colour, rle});
        }
        commands.close();
        ASSERT_TRUE(succeeds("xargs -d '\\n' -P 4 -n 1 sh -c < " + (dir / "commands").string()));
        for (const auto& name : names) ASSERT_TRUE(fs::exists(dir / name)) << name;
    } else {
        std::printf("ImageMagick's convert not found (Debian package imagemagick): its BMP files not tested\n");
    }
    pillow_reads(names);

    std::set<std::pair<uint32_t, uint32_t>> seen;  // (bits, compression)
    for (const auto& name : names) {
        SCOPED_TRACE(name);
        uint32_t bits, compression;
        const Bytes rgb = decode_bmp_file(read_file(dir / name), &bits, &compression);
        seen.insert({bits, compression});
        EXPECT_EQ(rgb, read_file(dir / (name + ".rgb")));
    }
    for (auto kind : std::vector<std::pair<uint32_t, uint32_t>>{{1, 0}, {8, 0}, {24, 0}})
        EXPECT_TRUE(seen.count(kind)) << kind.first << " bits, compression " << kind.second;
    if (!imagemagick_convert().empty()) {
        EXPECT_TRUE(seen.count({4, 0})) << "4 bits";
        EXPECT_TRUE(seen.count({8, 1})) << "RLE8";
    }
}

TEST_F(Interop, BmpFilesFromBmpstoreOpenInPillow)
{
    REQUIRE_PILLOW();
    struct Made {
        std::string name;
        Bytes rgb;  // what Pillow should see
    };
    std::vector<Made> made;
    for (uint32_t depth : {1u, 4u, 8u, 24u})
        for (uint32_t width = 1; width <= 9; ++width) {
            const uint32_t height = 3;
            const uint32_t colours = depth == 24 ? 0 : 1u << depth;
            std::vector<Rgb> palette(colours);
            for (uint32_t i = 0; i < colours; ++i)
                palette[i] = {uint8_t(i * 5 + 3), uint8_t(255 - i), uint8_t(i * 11 + 128)};
            const uint32_t row = depth == 24 ? 3 * width : width;
            Bytes pixels(row * height);
            for (size_t i = 0; i < pixels.size(); ++i)
                pixels[i] = uint8_t(depth == 24 ? i * 37 + 5 : (i * 7 + i / row) % colours);

            const uint32_t packed = depth == 1 ? (width + 7) / 8 : depth == 4 ? (width + 1) / 2 : row;
            const uint32_t padded = (packed + 3) / 4 * 4;
            SharedArena arena;
            uint8_t* array = arena.alloc(padded * height);
            call_block(arena, "bmpstore", 36,
                       {host_address(arena.copy(pixels)), host_address(array), host_address(arena.alloc(row)), width,
                        height, depth});

            Bytes file(54 + 4 * colours);
            file[0] = 'B';
            file[1] = 'M';
            put_le32(file, 2, uint32_t(file.size() + padded * height));
            put_le32(file, 10, uint32_t(file.size()));
            put_le32(file, 14, 40);
            put_le32(file, 18, width);
            put_le32(file, 22, height);
            put_le16(file, 26, 1);
            put_le16(file, 28, depth);
            put_le32(file, 34, padded * height);
            put_le32(file, 46, colours);
            for (uint32_t i = 0; i < colours; ++i) {
                file[54 + 4 * i] = palette[i][2];
                file[55 + 4 * i] = palette[i][1];
                file[56 + 4 * i] = palette[i][0];
            }
            file.insert(file.end(), array, array + padded * height);

            Made m{"ours_" + std::to_string(depth) + "_" + std::to_string(width) + ".bmp", {}};
            write_file(dir / m.name, file);
            for (size_t i = 0; i < pixels.size(); i += depth == 24 ? 3 : 1) {
                if (depth == 24) {
                    m.rgb.insert(m.rgb.end(), pixels.begin() + long(i), pixels.begin() + long(i) + 3);
                } else {
                    m.rgb.insert(m.rgb.end(), palette[pixels[i]].begin(), palette[pixels[i]].end());
                }
            }
            made.push_back(m);
        }
    std::vector<std::string> names;
    for (const auto& m : made) names.push_back(m.name);
    pillow_reads(names);
    for (const auto& m : made) EXPECT_EQ(read_file(dir / (m.name + ".rgb")), m.rgb) << m.name;
}

// --- PCX -----------------------------------------------------------------------

struct PcxHeader {
    uint32_t bits, planes, bytes_per_line, width, height;
};

PcxHeader pcx_header(const Bytes& file)
{
    return {file[3], file[65], le16(file, 66), le16(file, 8) - le16(file, 4) + 1, le16(file, 10) - le16(file, 6) + 1};
}

// A PCX header for run-length scan lines; a 16-colour palette in it.
Bytes make_pcx_header(uint32_t bits, uint32_t planes, uint32_t bytes_per_line, uint32_t width, uint32_t height,
                      const std::vector<Rgb>& palette16)
{
    Bytes h(128);
    h[0] = 10;
    h[1] = 5;
    h[2] = 1;
    h[3] = uint8_t(bits);
    put_le16(h, 8, width - 1);
    put_le16(h, 10, height - 1);
    put_le16(h, 12, 72);
    put_le16(h, 14, 72);
    for (size_t i = 0; i < palette16.size() && i < 16; ++i)
        for (int c = 0; c < 3; ++c) h[16 + 3 * i + c] = palette16[i][c];
    h[65] = uint8_t(planes);
    put_le16(h, 66, bytes_per_line);
    put_le16(h, 68, 1);
    return h;
}

TEST_F(Interop, PcxFilesOfPillowDecodeToThePixelsWritten)
{
    REQUIRE_PILLOW();
    python(kPillowMake, dir.string());
    const std::vector<std::string> names = files_with("pil_", ".pcx");
    pillow_reads(names);
    std::set<uint32_t> planes_seen;
    for (const auto& name : names) {
        SCOPED_TRACE(name);
        // Pillow 9 writes 24-bit PCX files of width 1 with fewer bytes than
        // their header calls for, and cannot read them back; and it reads its
        // own 24-bit files of width 3 wrongly. The decoders are held to the
        // pixels each readable file was written from, which are Pillow's
        // reading of it everywhere else.
        if (!fs::exists(dir / (name + ".rgb"))) continue;
        const Bytes file = read_file(dir / name);
        const PcxHeader h = pcx_header(file);
        const Bytes written = read_file(dir / (name + ".src"));
        SharedArena arena;
        uint8_t* source = arena.copy(Bytes(file.begin() + 128, file.end()));
        if (h.bits == 1 && h.planes == 1) {
            const uint32_t row = (h.width + 7) / 8;
            uint8_t* planar = arena.alloc(row * h.height);
            call_block(arena, "pcxload4", 44,
                       {host_address(source), host_address(planar), host_address(arena.alloc(h.bytes_per_line)),
                        h.width, h.height, 1, h.bytes_per_line});
            Bytes values;
            for (uint32_t y = 0; y < h.height; ++y)
                for (uint32_t x = 0; x < h.width; ++x)
                    values.push_back(planar[y * row + x / 8] & (0x80 >> (x % 8)) ? 255 : 0);
            EXPECT_EQ(values, written);
        } else if (h.bits == 8 && h.planes == 1) {
            uint8_t* indexes = arena.alloc(h.width * h.height);
            call_block(arena, "pcxload8", 40,
                       {host_address(source), host_address(indexes), h.width, h.height, 0, h.bytes_per_line});
            EXPECT_EQ(bytes_of(indexes, h.width * h.height), written);
        } else {
            ASSERT_EQ(h.planes, 3u);
            uint8_t* rgb = arena.alloc(3 * h.width * h.height);
            call_block(arena, "pcxload24", 40,
                       {host_address(source), host_address(rgb), h.width, h.height, 24, h.bytes_per_line});
            EXPECT_EQ(bytes_of(rgb, 3 * h.width * h.height), written);
        }
        planes_seen.insert(h.bits * 10 + h.planes);
    }
    EXPECT_EQ(planes_seen, (std::set<uint32_t>{11, 81, 83})) << "1-bit, 8-bit palette and 24-bit files";
}

TEST_F(Interop, PcxFilesFromTheEncodersOpenInPillow)
{
    REQUIRE_PILLOW();
    struct Made {
        std::string name;
        Bytes expected;  // Pillow's .raw (one band) or .rgb
        bool one_band;
    };
    std::vector<Made> made;
    std::vector<Rgb> palette(256);
    for (uint32_t i = 0; i < 256; ++i) palette[i] = {uint8_t(i * 3 + 1), uint8_t(i * 7 + 2), uint8_t(255 - i)};

    // pcxstore8: small pictures with bytes below 0xC0 (good coded or plain),
    // and a wide one with long runs and bytes of 0xC0 and up, which codes.
    std::vector<std::pair<uint32_t, uint32_t>> sizes8;
    for (uint32_t w = 1; w <= 9; ++w) sizes8.push_back({w, 3});
    sizes8.push_back({200, 6});
    for (auto [width, height] : sizes8) {
        const uint32_t bytes_per_line = width + width % 2;
        const bool wide = width == 200;
        Bytes rows(bytes_per_line * height, 0), pixels;
        for (uint32_t y = 0; y < height; ++y)
            for (uint32_t x = 0; x < width; ++x) {
                const uint8_t v = wide ? uint8_t((x / 70 + y) * 0x45) : uint8_t((x * 37 + y * 11) % 0xC0);
                rows[y * bytes_per_line + x] = v;
                pixels.push_back(v);
            }
        SharedArena arena;
        uint8_t* coded = arena.alloc((height + 1) * bytes_per_line);
        const uint8_t* block = call_block(arena, "pcxstore8", 32,
                                          {host_address(arena.copy(rows)), host_address(coded), bytes_per_line, height});
        const uint32_t length = host_word(block, 6);
        if (wide) {
            EXPECT_LT(length, bytes_per_line * height) << "coded";
        }
        Bytes file = make_pcx_header(8, 1, bytes_per_line, width, height, {});
        file.insert(file.end(), coded, coded + length);
        file.push_back(0x0C);
        for (const Rgb& c : palette) file.insert(file.end(), c.begin(), c.end());
        made.push_back({"ours8_" + std::to_string(width) + ".pcx", pixels, true});
        write_file(dir / made.back().name, file);
    }

    // pcxstore4: two planes of colour bands and a filler line of set bits,
    // wide enough that four coded lines stay under one plain line.
    {
        const uint32_t width = 1024, height = 4, bytes_per_line = width / 8;
        Bytes planar(2 * bytes_per_line * height, 0), indexes;
        for (uint32_t y = 0; y < height; ++y)
            for (uint32_t x = 0; x < width; ++x) {
                const uint32_t index = (x / 256 + y) % 4;
                for (uint32_t p = 0; p < 2; ++p)
                    if (index >> p & 1) planar[p * bytes_per_line * height + y * bytes_per_line + x / 8] |= 0x80 >> (x % 8);
                indexes.push_back(uint8_t(index | 12));  // planes 2 and 3 from the filler
            }
        SharedArena arena;
        uint8_t* coded = arena.alloc(4 * bytes_per_line * height);
        const uint8_t* block = call_block(arena, "pcxstore4", 40,
                                          {host_address(arena.copy(planar)), host_address(coded),
                                           host_address(arena.fill(bytes_per_line, 0xFF)), bytes_per_line, height, 2});
        const uint32_t length = host_word(block, 8);
        EXPECT_LT(length, 4 * bytes_per_line * height) << "coded";
        Bytes file = make_pcx_header(1, 4, bytes_per_line, width, height, palette);
        file.insert(file.end(), coded, coded + length);
        made.push_back({"ours4.pcx", indexes, true});
        write_file(dir / made.back().name, file);
    }

    // pcxstore24: plain lines read as runs wherever a byte is 0xC0 or more,
    // so these pictures keep below it.
    for (uint32_t width = 1; width <= 9; ++width) {
        const uint32_t height = 3;
        Bytes rgb(3 * width * height);
        for (size_t i = 0; i < rgb.size(); ++i) rgb[i] = uint8_t((i * 37 + i / 3 * 5) % 0xC0);
        SharedArena arena;
        uint8_t* lines = arena.alloc(3 * width * height);
        call_block(arena, "pcxstore24", 32, {host_address(arena.copy(rgb)), host_address(lines), width, height});
        Bytes file = make_pcx_header(8, 3, width, width, height, {});
        file.insert(file.end(), lines, lines + 3 * width * height);
        made.push_back({"ours24_" + std::to_string(width) + ".pcx", rgb, false});
        write_file(dir / made.back().name, file);
    }

    std::vector<std::string> names;
    for (const auto& m : made) names.push_back(m.name);
    pillow_reads(names);
    for (const auto& m : made) EXPECT_EQ(read_file(dir / (m.name + (m.one_band ? ".raw" : ".rgb"))), m.expected) << m.name;
}

} // namespace
