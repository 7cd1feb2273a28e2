// The Targa decoders against independent writers: run-length Targa files
// written by Pillow (8-bit grey and palette, 16-bit grey with alpha, 24-bit)
// and by ImageMagick (8- and 24-bit) decode to the pixels Pillow reads from
// them. The decoders keep the file's byte and row order, so the comparison
// turns bottom-up rows over and blue, green, red into red, green, blue.
// Skipped, with a message, where Pillow is missing; ImageMagick's files are
// left out where it is missing.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <set>
#include <string>
#include <vector>

#include "interop.h"
#include "kernel_test.h"

namespace {

namespace fs = std::filesystem;
using Bytes = std::vector<uint8_t>;

const char* const kImageMagick = "convert-im6.q16";

// Writes, under the folder given: pil_<mode>_<w>x<h>.tga, run-length coded
// by Pillow from L, P, LA and RGB pictures; and src_<mode>_<w>x<h>.png of
// the L, P and RGB pictures for ImageMagick. Stretches of equal pixels up to
// 150 long, and noise between them, give runs of every length and raw
// packets.
constexpr const char* kMakeFiles = R"(import sys
from PIL import Image
out = sys.argv[1]
def value(x, y, k):
    if y % 2 == 0:
        return (x // 150 * 60 + y * 7 + k * 50) % 256
    if (x * 7 + y) % 5 == 0:
        return (x * 131 + y * 17 + k * 71) % 256
    return (x // 3 * 37 + y * 11 + k * 90) % 256
palette = [(i * 29 + 7) % 256 for i in range(768)]
for w, h in [(w, 3) for w in range(1, 10)] + [(37, 5), (300, 6)]:
    at = [(x, y) for y in range(h) for x in range(w)]
    grey = Image.new('L', (w, h))
    grey.putdata([value(x, y, 0) for x, y in at])
    pal = Image.new('P', (w, h))
    pal.putpalette(palette)
    pal.putdata([value(x, y, 1) % 16 for x, y in at])
    la = Image.new('LA', (w, h))
    la.putdata([(value(x, y, 0), value(x, y, 2)) for x, y in at])
    rgb = Image.new('RGB', (w, h))
    rgb.putdata([(value(x, y, 0), value(x, y, 1), value(x, y, 2)) for x, y in at])
    for mode, im in (('L', grey), ('P', pal), ('LA', la), ('RGB', rgb)):
        im.save('%s/pil_%s_%dx%d.tga' % (out, mode, w, h), compression='tga_rle')
        if mode != 'LA':
            im.save('%s/src_%s_%dx%d.png' % (out, mode, w, h))
)";

// Pillow's reading of each file given: its pixels, rows from the top, as
// <file>.pix (one band a byte, bands of a pixel together). A file Pillow
// cannot read gets none.
constexpr const char* kReadFiles = R"(import sys
from PIL import Image
for path in sys.argv[1:]:
    try:
        im = Image.open(path)
        im.load()
    except Exception:
        continue
    open(path + '.pix', 'wb').write(im.tobytes())
)";

struct TargaFile {
    uint32_t type, width, height, bits;
    bool bottom_up;
    Bytes pixel_data;  // from the first packet to the end of the file
};

TargaFile parse_targa(const Bytes& file)
{
    const auto le16 = [&](size_t at) { return uint32_t(file[at] | file[at + 1] << 8); };
    const uint32_t map_bytes = file[1] ? le16(5) * ((file[7] + 7u) / 8) : 0;
    const size_t data = 18 + file[0] + map_bytes;
    EXPECT_EQ(file[17] & 0x10, 0) << "columns right to left";
    return {file[2], le16(12), le16(14), file[16], (file[17] & 0x20) == 0,
            Bytes(file.begin() + long(data), file.end())};
}

// The file's pixels decoded by the module for its depth, then in Pillow's
// order: rows from the top, colour pixels red first.
Bytes decode_targa(const TargaFile& t)
{
    const char* module = t.bits == 8 ? "tgaload8" : t.bits == 16 ? "tgaload16" : "tgaload24";
    const uint32_t pixel = t.bits / 8, row = t.width * pixel;
    SharedArena arena;
    uint8_t* decoded = arena.alloc(row * t.height);
    uint8_t* block = arena.block(32);
    host_set_word(block, 2, host_address(arena.copy(t.pixel_data)));
    host_set_word(block, 3, host_address(decoded));
    host_set_word(block, 4, t.width);
    host_set_word(block, 5, t.height);
    host_call(load_module(module), block, 1);
    EXPECT_EQ(host_word(block, 7), 0u) << module << " error word";
    EXPECT_EQ(host_word(block, 6), row * t.height);

    Bytes pixels;
    for (uint32_t r = 0; r < t.height; ++r) {
        const uint8_t* from = decoded + size_t(t.bottom_up ? t.height - 1 - r : r) * row;
        pixels.insert(pixels.end(), from, from + row);
        if (t.bits == 24)
            for (size_t x = pixels.size() - row; x < pixels.size(); x += 3) std::swap(pixels[x], pixels[x + 2]);
    }
    return pixels;
}

TEST(TargaInterop, RunLengthFilesOfPillowAndImageMagickDecodeToPillowsPixels)
{
    const std::string python = python_with("PIL");
    if (python.empty()) GTEST_SKIP() << "Pillow not found (Debian package python3-pil): Targa interop not tested";

    const TempFolder folder("targa_interop");
    ASSERT_FALSE(folder.path.empty());
    const fs::path& dir = folder.path;
    const auto script = [&](const char* text, const std::string& arguments) {
        std::ofstream(dir / "script.py") << text;
        return succeeds(python + " " + (dir / "script.py").string() + " " + arguments);
    };
    ASSERT_TRUE(script(kMakeFiles, dir.string()));

    const bool imagemagick = succeeds(std::string(kImageMagick) + " -version");
    if (!imagemagick) std::printf("%s not found (Debian package imagemagick): its Targa files not tested\n", kImageMagick);
    std::set<std::string> names;
    for (const auto& entry : fs::directory_iterator(dir)) {
        const std::string name = entry.path().filename().string();
        if (name.starts_with("pil_")) names.insert(name);
        if (imagemagick && name.starts_with("src_")) {
            const std::string made = "im_" + fs::path(name).stem().string().substr(4) + ".tga";
            ASSERT_TRUE(succeeds(std::string(kImageMagick) + " " + entry.path().string() + " -compress RLE " +
                                     (dir / made).string()));
            names.insert(made);
        }
    }
    std::string arguments;
    for (const auto& name : names) {
        arguments += ' ';
        arguments += (dir / name).string();
    }
    ASSERT_TRUE(script(kReadFiles, arguments));

    std::set<std::pair<char, uint32_t>> seen;  // (writer, bits)
    for (const auto& name : names) {
        SCOPED_TRACE(name);
        const TargaFile t = parse_targa(read_file(dir / name));
        ASSERT_GE(t.type, 9u) << "run-length coded";
        ASSERT_TRUE(fs::exists(dir / (name + ".pix"))) << "Pillow reads the file";
        EXPECT_EQ(decode_targa(t), read_file(dir / (name + ".pix")));
        seen.insert({name[0], t.bits});
    }
    for (uint32_t bits : {8u, 16u, 24u}) EXPECT_TRUE(seen.count({'p', bits})) << "Pillow, " << bits << " bits";
    if (imagemagick) {
        for (uint32_t bits : {8u, 24u}) EXPECT_TRUE(seen.count({'i', bits})) << "ImageMagick, " << bits << " bits";
    }
}

} // namespace
