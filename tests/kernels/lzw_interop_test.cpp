// The LZW kernels against independent programs: GIF files assembled around
// lzwpack's streams open in giflib (in process) and in Pillow with the pixels
// that went in, plain and interlaced; and the streams of GIF files written by
// giflib and by Pillow decode with lzwunpack to the pixels those libraries
// read from them. The Pillow parts are skipped, with a message, where Pillow
// is missing.
#include <gif_lib.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <random>
#include <string>
#include <vector>

#include "kernel_test.h"

using Bytes = std::vector<uint8_t>;

// lzw_test.cpp runs the modules.
namespace lzw_run {
struct Packed {
    Bytes stream;
    uint32_t error;
    uint32_t advance;
};
struct Unpacked {
    Bytes pixels;
    uint32_t error;
};
Packed pack(const Bytes& pixels, uint32_t width, uint32_t height, uint32_t code_size, bool interlaced);
Unpacked unpack(const Bytes& stream, uint32_t width, uint32_t height, bool interlaced);
} // namespace lzw_run

namespace {

namespace fs = std::filesystem;

constexpr uint8_t kInterlacedFlag = 0x40;  // of a GIF image descriptor

struct Picture {
    std::string name;
    uint32_t width, height, bits;
    Bytes pixels;
};

// Noise, smooth gradients and flat areas, 1 to 8 bits, from one pixel to
// pictures that fill the string table many times; heights around the
// interlaced passes' steps.
std::vector<Picture> pictures()
{
    std::vector<Picture> all;
    std::mt19937 random(3);
    const struct {
        uint32_t width, height, bits;
    } sizes[] = {{1, 1, 1}, {3, 2, 2}, {17, 13, 4}, {16, 16, 8}, {5, 9, 3}, {64, 50, 8}, {255, 7, 5}, {300, 200, 8}};
    for (const auto& s : sizes) {
        for (const char* look : {"noise", "smooth"}) {
            Picture p{std::string(look) + "_" + std::to_string(s.width) + "x" + std::to_string(s.height) + "_" +
                          std::to_string(s.bits),
                      s.width, s.height, s.bits, Bytes(s.width * s.height)};
            for (uint32_t y = 0; y < s.height; ++y)
                for (uint32_t x = 0; x < s.width; ++x) {
                    const uint32_t value = look[0] == 'n' ? uint32_t(random()) : (x / 5 + y / 3 + (x * y) / 97);
                    p.pixels[y * s.width + x] = uint8_t(value & ((1u << s.bits) - 1));
                }
            all.push_back(p);
        }
    }
    return all;
}

// Colours that are never all grey, so that every reader keeps the indices.
Bytes palette(uint32_t bits)
{
    Bytes colours;
    for (uint32_t i = 0; i < (1u << bits); ++i)
        for (uint32_t c = 0; c < 3; ++c) colours.push_back(uint8_t(i * 37 + c * 91 + 13));
    return colours;
}

void put_le16(Bytes& out, uint32_t value)
{
    out.push_back(uint8_t(value));
    out.push_back(uint8_t(value >> 8));
}

// A GIF file of one image: the screen with a global colour table of
// 2^bits entries, the image descriptor, the code stream, the trailer.
Bytes gif_around(const Picture& p, const Bytes& stream, bool interlaced)
{
    Bytes file = {'G', 'I', 'F', '8', '9', 'a'};
    put_le16(file, p.width);
    put_le16(file, p.height);
    file.push_back(uint8_t(0x80 | (p.bits - 1) << 4 | (p.bits - 1)));
    file.push_back(0);
    file.push_back(0);
    const Bytes colours = palette(p.bits);
    file.insert(file.end(), colours.begin(), colours.end());
    file.push_back(0x2C);
    put_le16(file, 0);
    put_le16(file, 0);
    put_le16(file, p.width);
    put_le16(file, p.height);
    file.push_back(interlaced ? kInterlacedFlag : 0);
    file.insert(file.end(), stream.begin(), stream.end());
    file.push_back(0x3B);
    return file;
}

// The first image of a GIF file: its size, its order and its code stream
// from the code-size byte to the zero count.
struct GifImage {
    uint32_t width = 0, height = 0;
    bool interlaced = false;
    Bytes stream;
    bool has_255_byte_sub_blocks = false;
};

// Passes sub-blocks from `at` up to and past the zero count.
size_t skip_sub_blocks(const Bytes& file, size_t at, bool* saw_255 = nullptr)
{
    while (at < file.size() && file[at] != 0) {
        if (saw_255 && file[at] == 255) *saw_255 = true;
        at += 1 + file[at];
    }
    return at + 1;
}

GifImage first_image(const Bytes& file)
{
    GifImage image;
    size_t at = 13;
    if (file.size() < at) return image;
    if (file[10] & 0x80) at += 3u << ((file[10] & 7) + 1);
    while (at < file.size() && file[at] == 0x21) at = skip_sub_blocks(file, at + 2);
    if (at + 10 > file.size() || file[at] != 0x2C) return image;
    image.width = uint32_t(file[at + 5] | file[at + 6] << 8);
    image.height = uint32_t(file[at + 7] | file[at + 8] << 8);
    const uint8_t flags = file[at + 9];
    image.interlaced = (flags & kInterlacedFlag) != 0;
    at += 10;
    if (flags & 0x80) at += 3u << ((flags & 7) + 1);
    const size_t end = std::min(skip_sub_blocks(file, at + 1, &image.has_255_byte_sub_blocks), file.size());
    image.stream.assign(file.begin() + at, file.begin() + end);
    return image;
}

// Rows in the order giflib takes and gives them for an interlaced image.
std::vector<uint32_t> line_order(uint32_t height, bool interlaced)
{
    std::vector<uint32_t> rows;
    if (!interlaced) {
        for (uint32_t r = 0; r < height; ++r) rows.push_back(r);
        return rows;
    }
    for (auto [first, step] : {std::pair{0u, 8u}, {4u, 8u}, {2u, 4u}, {1u, 2u}})
        for (uint32_t r = first; r < height; r += step) rows.push_back(r);
    return rows;
}

// --- giflib in memory ----------------------------------------------------------

struct MemoryFile {
    Bytes bytes;
    size_t at = 0;
};

int read_memory(GifFileType* gif, GifByteType* into, int count)
{
    auto* file = static_cast<MemoryFile*>(gif->UserData);
    const size_t n = std::min(size_t(count), file->bytes.size() - file->at);
    std::memcpy(into, file->bytes.data() + file->at, n);
    file->at += n;
    return int(n);
}

int write_memory(GifFileType* gif, const GifByteType* from, int count)
{
    Bytes& bytes = static_cast<MemoryFile*>(gif->UserData)->bytes;
    bytes.insert(bytes.end(), from, from + count);
    return count;
}

// The pixels of the first image as giflib reads them; empty when it fails.
Bytes giflib_read(const Bytes& bytes)
{
    MemoryFile file{bytes};
    int error = 0;
    GifFileType* gif = DGifOpen(&file, read_memory, &error);
    if (gif == nullptr) return {};
    Bytes pixels;
    GifRecordType record;
    bool ok = DGifGetRecordType(gif, &record) == GIF_OK && record == IMAGE_DESC_RECORD_TYPE &&
              DGifGetImageDesc(gif) == GIF_OK;
    if (ok) {
        const uint32_t width = uint32_t(gif->Image.Width), height = uint32_t(gif->Image.Height);
        pixels.resize(width * height);
        for (uint32_t r : line_order(height, gif->Image.Interlace))
            ok = ok && DGifGetLine(gif, pixels.data() + r * width, int(width)) == GIF_OK;
    }
    DGifCloseFile(gif, &error);
    return ok ? pixels : Bytes{};
}

// A GIF file written by giflib.
Bytes giflib_write(const Picture& p, bool interlaced)
{
    MemoryFile file;
    int error = 0;
    GifFileType* gif = EGifOpen(&file, write_memory, &error);
    if (gif == nullptr) return {};
    const Bytes colours = palette(p.bits);
    ColorMapObject* map = GifMakeMapObject(1 << p.bits, reinterpret_cast<const GifColorType*>(colours.data()));
    bool ok = EGifPutScreenDesc(gif, int(p.width), int(p.height), int(p.bits), 0, map) == GIF_OK &&
              EGifPutImageDesc(gif, 0, 0, int(p.width), int(p.height), interlaced, nullptr) == GIF_OK;
    Bytes line(p.width);
    for (uint32_t r : line_order(p.height, interlaced)) {
        std::copy_n(p.pixels.begin() + r * p.width, p.width, line.begin());
        ok = ok && EGifPutLine(gif, line.data(), int(p.width)) == GIF_OK;
    }
    EGifCloseFile(gif, &error);
    GifFreeMapObject(map);
    return ok ? file.bytes : Bytes{};
}

TEST(LzwInterop, GiflibReadsTheStreamsOfLzwpack)
{
    for (const auto& p : pictures()) {
        for (bool interlaced : {false, true}) {
            SCOPED_TRACE(p.name + (interlaced ? ", interlaced" : ""));
            const auto packed = lzw_run::pack(p.pixels, p.width, p.height, p.bits, interlaced);
            ASSERT_EQ(packed.error, 0u);
            EXPECT_EQ(giflib_read(gif_around(p, packed.stream, interlaced)), p.pixels);
        }
    }
}

TEST(LzwInterop, LzwunpackReadsTheStreamsOfGiflib)
{
    for (const auto& p : pictures()) {
        for (bool interlaced : {false, true}) {
            SCOPED_TRACE(p.name + (interlaced ? ", interlaced" : ""));
            const Bytes file = giflib_write(p, interlaced);
            ASSERT_FALSE(file.empty());
            const Bytes read = giflib_read(file);
            ASSERT_EQ(read, p.pixels);
            const GifImage image = first_image(file);
            ASSERT_EQ(image.interlaced, interlaced);
            const auto unpacked = lzw_run::unpack(image.stream, image.width, image.height, image.interlaced);
            EXPECT_EQ(unpacked.error, 0u);
            EXPECT_EQ(unpacked.pixels, read);
        }
    }
}

// --- Pillow --------------------------------------------------------------------

bool pillow_present()
{
    static const bool present = std::system("/usr/bin/python3 -c 'import PIL' >/dev/null 2>&1") == 0;
    return present;
}

#define REQUIRE_PILLOW()                                                                                   \
    if (!pillow_present())                                                                                \
    GTEST_SKIP() << "Pillow not found for /usr/bin/python3 (Debian package python3-pil): not tested"

Bytes read_file(const fs::path& path)
{
    std::ifstream in(path, std::ios::binary);
    return Bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

void write_file(const fs::path& path, const Bytes& bytes)
{
    std::ofstream out(path, std::ios::binary);
    out.write(reinterpret_cast<const char*>(bytes.data()), std::streamsize(bytes.size()));
}

// Beside each GIF file it is given, leaves <file>.raw: the palette indices of
// its first image as Pillow reads them.
constexpr const char* kPillowRead = R"(import sys
from PIL import Image
for path in sys.argv[1:]:
    im = Image.open(path)
    im.load()
    if im.mode == 'P':
        open(path + '.raw', 'wb').write(im.tobytes())
)";

// Writes GIF files of noise and gradients with 2 to 256 colours, interlaced
// as Pillow does by default (16 or more pixels both ways) and plain, each
// with <file>.raw as Pillow reads it back.
constexpr const char* kPillowWrite = R"(import random, sys
from PIL import Image
out = sys.argv[1]
random.seed(7)
for w, h, n in [(1, 1, 2), (5, 3, 4), (15, 40, 16), (16, 16, 256), (40, 15, 8), (100, 80, 256), (300, 200, 256)]:
    for look in ('noise', 'smooth'):
        im = Image.new('P', (w, h))
        im.putpalette([(i * 37 + c * 91 + 13) % 256 for i in range(256) for c in range(3)])
        if look == 'noise':
            im.putdata([random.randrange(n) for _ in range(w * h)])
        else:
            im.putdata([((x + y) // 3 + x * y // 50) % n for y in range(h) for x in range(w)])
        for order in ('default', 'plain'):
            name = '%s/pil_%dx%d_%d_%s_%s.gif' % (out, w, h, n, look, order)
            if order == 'default':
                im.save(name)
            else:
                im.save(name, interlace=False)
            back = Image.open(name)
            back.load()
            if back.mode == 'P':
                open(name + '.raw', 'wb').write(back.tobytes())
)";

class LzwPillow : public ::testing::Test {
protected:
    fs::path dir;

    void SetUp() override
    {
        std::string pattern = (fs::temp_directory_path() / "lzw_interop_XXXXXX").string();
        ASSERT_NE(mkdtemp(pattern.data()), nullptr);
        dir = pattern;
    }
    void TearDown() override
    {
        std::error_code ignored;
        if (!dir.empty()) fs::remove_all(dir, ignored);
    }

    void python(const char* script, const std::string& arguments)
    {
        const fs::path file = dir / "script.py";
        write_file(file, Bytes(script, script + std::strlen(script)));
        ASSERT_EQ(std::system(("/usr/bin/python3 " + file.string() + " " + arguments + " >/dev/null 2>&1").c_str()), 0);
    }
};

TEST_F(LzwPillow, PillowReadsTheStreamsOfLzwpack)
{
    REQUIRE_PILLOW();
    std::vector<std::pair<fs::path, Bytes>> written;
    std::string arguments;
    for (const auto& p : pictures()) {
        for (bool interlaced : {false, true}) {
            const auto packed = lzw_run::pack(p.pixels, p.width, p.height, p.bits, interlaced);
            ASSERT_EQ(packed.error, 0u);
            const fs::path path = dir / (p.name + (interlaced ? "_interlaced" : "") + ".gif");
            write_file(path, gif_around(p, packed.stream, interlaced));
            written.push_back({path, p.pixels});
            arguments += ' ';
            arguments += path.string();
        }
    }
    python(kPillowRead, arguments);
    for (const auto& [path, pixels] : written) {
        SCOPED_TRACE(path.filename().string());
        EXPECT_EQ(read_file(path.string() + ".raw"), pixels);
    }
}

TEST_F(LzwPillow, LzwunpackReadsTheStreamsOfPillow)
{
    REQUIRE_PILLOW();
    python(kPillowWrite, dir.string());
    int files = 0, interlaced = 0, with_255 = 0;
    for (const auto& entry : fs::directory_iterator(dir)) {
        if (entry.path().extension() != ".gif") continue;
        SCOPED_TRACE(entry.path().filename().string());
        const GifImage image = first_image(read_file(entry.path()));
        const Bytes read = read_file(entry.path().string() + ".raw");
        ASSERT_EQ(read.size(), size_t(image.width) * image.height);
        const auto unpacked = lzw_run::unpack(image.stream, image.width, image.height, image.interlaced);
        EXPECT_EQ(unpacked.error, 0u);
        EXPECT_EQ(unpacked.pixels, read);
        ++files;
        interlaced += image.interlaced;
        with_255 += image.has_255_byte_sub_blocks;
    }
    EXPECT_EQ(files, 28);
    EXPECT_GT(interlaced, 0) << "Pillow interlaces by default from 16 x 16 on";
    EXPECT_GT(with_255, 0) << "Pillow writes sub-blocks of 255 bytes";
}

} // namespace
