// RGB8 and DEEP pictures against ffmpeg: IFF RGB8 files made around
// rgb8store's records decode in ffmpeg and in rgb8load to the pixels that
// went in, and the rows deepload decodes, stored as an uncompressed DEEP
// body, decode in ffmpeg to the same pixels. Skipped, with a message, where
// ffmpeg is missing.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "interop.h"
#include "kernel_test.h"
#include "kernels/codecs/pcx.h"

namespace {

namespace fs = std::filesystem;
using Bytes = std::vector<uint8_t>;

#define REQUIRE_FFMPEG()                                                                                    \
    if (!ffmpeg_found())                                                                                   \
    GTEST_SKIP() << "ffmpeg not found (Debian package ffmpeg): interop with ffmpeg not tested"

// ffmpeg's decoding of each file as raw pixels of its format, all files at
// once: beside each it leaves <file>.raw. A file ffmpeg cannot read leaves an
// empty one.
struct Decoding {
    fs::path file;
    const char* pixel_format;
};

void ffmpeg_decode_all(const std::vector<Decoding>& decodings)
{
    std::string command = "(";
    for (const Decoding& d : decodings)
        command += " ffmpeg -v error -i '" + d.file.string() + "' -f rawvideo -pix_fmt " + d.pixel_format + " - > '" +
                   d.file.string() + ".raw' 2>/dev/null &";
    command += " wait)";
    ASSERT_EQ(std::system(command.c_str()), 0);
}

void put_be16(Bytes& b, uint32_t v)
{
    b.push_back(uint8_t(v >> 8));
    b.push_back(uint8_t(v));
}

void put_be32(Bytes& b, uint32_t v)
{
    put_be16(b, v >> 16);
    put_be16(b, v & 0xFFFF);
}

struct Chunk {
    const char* id;
    Bytes data;
};

// An IFF FORM of the given type holding the chunks, each padded to even.
Bytes iff_form(const char* type, const std::vector<Chunk>& chunks)
{
    Bytes inner(type, type + 4);
    for (const Chunk& c : chunks) {
        inner.insert(inner.end(), c.id, c.id + 4);
        put_be32(inner, uint32_t(c.data.size()));
        inner.insert(inner.end(), c.data.begin(), c.data.end());
        if (c.data.size() % 2) inner.push_back(0);
    }
    Bytes form = {'F', 'O', 'R', 'M'};
    put_be32(form, uint32_t(inner.size()));
    form.insert(form.end(), inner.begin(), inner.end());
    return form;
}

void write_file(const fs::path& path, const Bytes& bytes)
{
    std::ofstream out(path, std::ios::binary);
    out.write(reinterpret_cast<const char*>(bytes.data()), std::streamsize(bytes.size()));
}

// Runs a module on a block of `size` bytes with argument words from word 2 on.
uint8_t* call_block(SharedArena& arena, const char* module, uint32_t size, const std::vector<uint32_t>& words)
{
    uint8_t* block = arena.block(size);
    for (uint32_t w = 0; w < words.size(); ++w) host_set_word(block, 2 + w, words[w]);
    host_call(load_module(module), block, 1);
    EXPECT_EQ(host_word(block, size / 4 - 1), 0u) << module << " error word";
    return block;
}

// Pictures of `channels` bytes a pixel: stretches of equal pixels of
// different lengths, some longer than a row or than a record's 127 pixels,
// among pixels that change at every step.
Bytes test_picture(uint32_t width, uint32_t height, uint32_t channels, uint32_t seed)
{
    Bytes out;
    uint32_t k = seed;
    while (out.size() < size_t(width) * height * channels) {
        k = k * 1103515245u + 12345u;
        const uint32_t length = (k >> 8) % 4 == 0 ? 1 + (k >> 12) % 300 : 1 + (k >> 12) % 3;
        Bytes pixel(channels);
        // Long stretches are grey, so that their bytes run on too.
        for (uint32_t c = 0; c < channels; ++c) pixel[c] = uint8_t((k >> (length > 3 ? 4 : 4 * c)) * 37);
        for (uint32_t i = 0; i < length; ++i) out.insert(out.end(), pixel.begin(), pixel.end());
    }
    out.resize(size_t(width) * height * channels);
    return out;
}

class FfmpegInterop : public ::testing::Test {
protected:
    TempFolder folder{"rgb8_deep_interop"};
    const fs::path& dir = folder.path;

    void SetUp() override { ASSERT_FALSE(dir.empty()); }
};

// Odd and even widths, one of a single column, and wide ones whose stretches
// pass 127 pixels.
const std::vector<std::pair<uint32_t, uint32_t>> kSizes = {{1, 1}, {1, 5}, {3, 3}, {4, 2},
                                                           {5, 3}, {9, 3}, {64, 9}, {301, 7}};

// BMHD of an RGB8 picture: 25 planes (24 of colour and the genlock bit),
// compression 4 (RGB8 records).
Bytes rgb8_bmhd(uint32_t width, uint32_t height)
{
    Bytes b;
    put_be16(b, width);
    put_be16(b, height);
    put_be32(b, 0);  // x, y
    b.insert(b.end(), {25, 0, 4, 0});
    put_be16(b, 0);  // transparent colour
    b.insert(b.end(), {1, 1});
    put_be16(b, width);
    put_be16(b, height);
    return b;
}

// Each file with the pixels ffmpeg should find in it.
struct Made {
    Decoding decoding;
    Bytes pixels;
};

void expect_ffmpeg_reads(const std::vector<Made>& made)
{
    std::vector<Decoding> decodings;
    for (const Made& m : made) decodings.push_back(m.decoding);
    ffmpeg_decode_all(decodings);
    for (const Made& m : made)
        EXPECT_EQ(read_file(m.decoding.file.string() + ".raw"), m.pixels) << "ffmpeg, " << m.decoding.file.filename();
}

std::string size_name(uint32_t width, uint32_t height) { return std::to_string(width) + "x" + std::to_string(height); }

TEST_F(FfmpegInterop, Rgb8FilesFromRgb8storeDecodeInFfmpegAndRgb8loadToTheirPixels)
{
    REQUIRE_FFMPEG();
    std::vector<Made> made;
    for (auto [width, height] : kSizes) {
        SCOPED_TRACE(size_name(width, height));
        const Bytes pixels = test_picture(width, height, 3, width * 31 + height);
        SharedArena arena;
        uint8_t* records = arena.alloc(4 * width * height);
        const uint8_t* block = call_block(arena, "rgb8store", 32,
                                          {host_address(arena.copy(pixels)), host_address(records), width, height});
        const Bytes body = bytes_of(records, host_word(block, 6));
        for (size_t i = 3; i < body.size(); i += 4) ASSERT_GT(body[i], 0) << "ffmpeg reads a count of 0 otherwise";

        uint8_t* decoded = arena.alloc(3 * width * height);
        call_block(arena, "rgb8load", 32,
                   {host_address(arena.copy(body)), host_address(decoded), width, height, 3 * width * height});
        EXPECT_EQ(bytes_of(decoded, 3 * width * height), pixels) << "rgb8load";

        made.push_back({{dir / ("rgb8_" + size_name(width, height) + ".iff"), "rgb24"}, pixels});
        write_file(made.back().decoding.file, iff_form("RGB8", {{"BMHD", rgb8_bmhd(width, height)}, {"BODY", body}}));
    }
    expect_ffmpeg_reads(made);
}

// A DEEP picture of 8-bit red, green, blue and, with an extra byte, alpha,
// its BODY not compressed.
Bytes deep_file(uint32_t width, uint32_t height, uint32_t extra, const Bytes& rows)
{
    Bytes dgbl;
    put_be16(dgbl, width);
    put_be16(dgbl, height);
    put_be16(dgbl, 0);  // no compression
    dgbl.insert(dgbl.end(), {1, 1});
    Bytes dpel;
    put_be32(dpel, 3 + extra);
    for (uint32_t type = 1; type <= 3 + extra; ++type) {  // 1 red, 2 green, 3 blue, 4 alpha
        put_be16(dpel, type);
        put_be16(dpel, 8);
    }
    return iff_form("DEEP", {{"DGBL", dgbl}, {"DPEL", dpel}, {"BODY", rows}});
}

TEST_F(FfmpegInterop, RowsDecodedByDeeploadStoredPlainDecodeInFfmpegToTheSamePixels)
{
    REQUIRE_FFMPEG();
    std::vector<Made> made;
    int carried = 0;  // pictures with a run carried across a row end
    for (uint32_t extra : {0u, 1u}) {
        for (auto [width, height] : kSizes) {
            const std::string name = "deep" + std::to_string(3 + extra) + "_" + size_name(width, height);
            SCOPED_TRACE(name);
            const uint32_t channels = 3 + extra;
            const uint32_t size = width * channels * height;
            Bytes pixels = test_picture(width, height, channels, width * 7 + height + extra);
            // ffmpeg keeps four bits of alpha, so the alpha bytes here repeat
            // their high four bits.
            for (size_t i = 3; extra && i < pixels.size(); i += channels) pixels[i] = uint8_t((pixels[i] >> 4) * 0x11);

            // The whole picture coded as one line: runs go on across row ends,
            // and the decoder has to carry them from row to row.
            Bytes coded(2 * size);
            coded.resize(pcx_encode_line(pixels.data(), size, coded.data()));
            SharedArena arena;
            uint8_t* rows = arena.alloc(size);
            uint8_t* source = arena.copy(coded);
            call_block(arena, "deepload", 36, {host_address(source), host_address(rows), width, height, extra});
            carried += bytes_of(source, uint32_t(coded.size())) != coded;
            const Bytes decoded = bytes_of(rows, size);
            EXPECT_EQ(decoded, pixels) << "deepload";

            made.push_back({{dir / (name + ".iff"), extra ? "rgba" : "rgb24"}, pixels});
            write_file(made.back().decoding.file, deep_file(width, height, extra, decoded));
        }
    }
    EXPECT_GT(carried, 4);
    expect_ffmpeg_reads(made);
}

} // namespace
