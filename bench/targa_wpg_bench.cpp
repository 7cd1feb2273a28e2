// Targa and WPG decoders on a 1920 x 1080 picture, photo-like and flat, in
// bytes per second of decoded output, beside memcpy of as many bytes; the
// Targa decoders also beside stb_image decoding the same data as a whole
// Targa file (counted in the same bytes, so the figures compare times).
#include <string>
#include <utility>

#include "bench/bench_support.h"
#include "kernels/ilbm/planar.h"

// stb_image's own code, private to this file.
#define STB_IMAGE_IMPLEMENTATION
#define STB_IMAGE_STATIC
#define STBI_ONLY_TGA
#define STBI_NO_STDIO
#include <stb/stb_image.h>

namespace {

constexpr uint32_t kWidth = 1920, kHeight = 1080;
constexpr uint32_t kPlanes = 4;  // wpgload1's picture: the low four bits

enum class Look { photo, flat };

std::vector<uint8_t> picture(Look look, uint32_t width, uint32_t channels)
{
    return look == Look::photo ? photo_like(width, kHeight, channels) : flat(width, kHeight, channels);
}

// Targa packets for elements of `size` bytes, the picture taken as one
// sequence: equal neighbours make runs, the rest raw packets, up to 128
// elements each, across row ends.
std::vector<uint8_t> targa_packets(const std::vector<uint8_t>& elements, uint32_t size)
{
    const size_t count = elements.size() / size;
    const auto same = [&](size_t a, size_t b) {
        return std::memcmp(&elements[a * size], &elements[b * size], size) == 0;
    };
    std::vector<uint8_t> out;
    size_t i = 0;
    while (i < count) {
        size_t n = 1;
        if (i + 1 < count && same(i, i + 1)) {
            while (n < 128 && i + n < count && same(i, i + n)) ++n;
            out.push_back(uint8_t(0x80 | (n - 1)));
            out.insert(out.end(), elements.data() + i * size, elements.data() + (i + 1) * size);
        } else {
            while (n < 128 && i + n < count && !(i + n + 1 < count && same(i + n, i + n + 1))) ++n;
            out.push_back(uint8_t(n - 1));
            out.insert(out.end(), elements.data() + i * size, elements.data() + (i + n) * size);
        }
        i += n;
    }
    return out;
}

// The same packets in a whole file for stb_image: run-length grey (8 bits)
// or true colour (16 and 24 bits), rows from the top.
std::vector<uint8_t> targa_file(const std::vector<uint8_t>& packets, uint32_t bits)
{
    std::vector<uint8_t> file(18 + packets.size());
    file[2] = bits == 8 ? 11 : 10;
    file[12] = uint8_t(kWidth);
    file[13] = uint8_t(kWidth >> 8);
    file[14] = uint8_t(kHeight);
    file[15] = uint8_t(kHeight >> 8);
    file[16] = uint8_t(bits);
    file[17] = 0x20;
    std::memcpy(file.data() + 18, packets.data(), packets.size());
    return file;
}

// Calls the module on a block with the source, the destination and then
// `words`, and counts `output` bytes a call.
void run_decoder(benchmark::State& state, const char* name, uint32_t block_size, const std::vector<uint8_t>& source,
                 const std::vector<uint32_t>& words, uint32_t output)
{
    const host_module* module = host_load_module(name);
    if (module == nullptr) {
        state.SkipWithError("module not found");
        return;
    }
    uint8_t* src = shared_copy(source);
    uint8_t* dst = host_alloc(output);
    uint8_t* block = host_new_block(block_size);
    host_set_word(block, 2, host_address(src));
    host_set_word(block, 3, host_address(dst));
    for (uint32_t i = 0; i < words.size(); ++i) host_set_word(block, 4 + i, words[i]);
    for (auto _ : state) {
        host_call(module, block, 1);
        benchmark::ClobberMemory();
    }
    if (host_word(block, block_size / 4 - 1) != 0) state.SkipWithError("the module reported an error");
    state.SetBytesProcessed(int64_t(state.iterations()) * output);
    host_free(block);
    host_free(dst);
    host_free(src);
}

// Targa: tgaload1 on the picture's rows of bits (one byte of it for eight
// pixels), the others on pixels of their size.
void BM_TgaLoad(benchmark::State& state, Look look, uint32_t bits)
{
    const uint32_t element = bits == 1 ? 1 : bits / 8;
    const uint32_t row_elements = bits == 1 ? uint32_t(planar_row_bytes(kWidth)) : kWidth;
    const auto elements = picture(look, row_elements, element);
    const char* name = bits == 1 ? "tgaload1" : bits == 8 ? "tgaload8" : bits == 16 ? "tgaload16" : "tgaload24";
    run_decoder(state, name, 32, targa_packets(elements, element), {kWidth, kHeight}, uint32_t(elements.size()));
}

void BM_StbTga(benchmark::State& state, Look look, uint32_t bits)
{
    const auto elements = picture(look, kWidth, bits / 8);
    const auto file = targa_file(targa_packets(elements, bits / 8), bits);
    // The same pixels come out (at 16 bits stb_image expands them to 24).
    if (bits != 16) {
        int w, h, channels;
        stbi_uc* pixels = stbi_load_from_memory(file.data(), int(file.size()), &w, &h, &channels, 0);
        std::vector<uint8_t> ours = elements;
        for (size_t i = 0; bits == 24 && i < ours.size(); i += 3) std::swap(ours[i], ours[i + 2]);
        const bool same = pixels != nullptr && std::memcmp(pixels, ours.data(), ours.size()) == 0;
        stbi_image_free(pixels);
        if (!same) {
            state.SkipWithError("stb_image decodes other pixels");
            return;
        }
    }
    for (auto _ : state) {
        int w, h, channels;
        stbi_uc* pixels = stbi_load_from_memory(file.data(), int(file.size()), &w, &h, &channels, 0);
        if (pixels == nullptr || w != int(kWidth) || h != int(kHeight)) {
            state.SkipWithError("stb_image cannot read the file");
            break;
        }
        benchmark::DoNotOptimize(pixels);
        stbi_image_free(pixels);
    }
    state.SetBytesProcessed(int64_t(state.iterations()) * int64_t(elements.size()));
}

// WPG records of coded rows of `length` bytes, `parts` rows at a time (the
// planes of one wpgload1 row): runs of three and more, data records between
// them, and a repeat record for rows equal to the one before.
std::vector<uint8_t> wpg_records(const std::vector<uint8_t>& rows, size_t length, size_t parts)
{
    std::vector<uint8_t> out;
    const size_t row_size = length * parts, count = rows.size() / row_size;
    for (size_t r = 0; r < count;) {
        const uint8_t* row = &rows[r * row_size];
        for (size_t p = 0; p < parts; ++p) {
            const uint8_t* part = row + p * length;
            size_t i = 0;
            while (i < length) {
                size_t run = 1;
                while (run < 127 && i + run < length && part[i + run] == part[i]) ++run;
                if (run >= 3) {
                    out.insert(out.end(), {uint8_t(0x80 | run), part[i]});
                    i += run;
                    continue;
                }
                size_t n = 0;
                while (n < 127 && i + n < length && !(i + n + 2 < length && part[i + n] == part[i + n + 1] &&
                                                       part[i + n] == part[i + n + 2]))
                    ++n;
                out.push_back(uint8_t(n));
                out.insert(out.end(), part + i, part + i + n);
                i += n;
            }
        }
        size_t repeats = 0;
        while (repeats < 255 && r + 1 + repeats < count &&
               std::memcmp(row, &rows[(r + 1 + repeats) * row_size], row_size) == 0)
            ++repeats;
        if (repeats > 0) out.insert(out.end(), {0x00, uint8_t(repeats)});
        r += 1 + repeats;
    }
    return out;
}

void BM_WpgLoad8(benchmark::State& state, Look look)
{
    const auto pixels = picture(look, kWidth, 1);
    run_decoder(state, "wpgload8", 32, wpg_records(pixels, kWidth, 1), {kWidth, kHeight}, kWidth * kHeight);
}

void BM_WpgLoad4(benchmark::State& state, Look look)
{
    // Two pixels of the picture's low four bits a coded byte.
    const auto pixels = picture(look, kWidth, 1);
    std::vector<uint8_t> coded(pixels.size() / 2);
    for (size_t i = 0; i < coded.size(); ++i) coded[i] = uint8_t(pixels[2 * i] << 4 | (pixels[2 * i + 1] & 0x0F));
    run_decoder(state, "wpgload4", 32, wpg_records(coded, kWidth / 2, 1), {kWidth, kHeight}, kWidth * kHeight);
}

void BM_WpgLoad1(benchmark::State& state, Look look)
{
    // The planes of each row together, as the records carry them.
    const auto pixels = picture(look, kWidth, 1);
    const uint32_t row_bytes = uint32_t(planar_row_bytes(kWidth));
    std::vector<uint8_t> rows(size_t(row_bytes) * kPlanes * kHeight);
    for (uint32_t y = 0; y < kHeight; ++y) {
        uint8_t* planes[kPlanes];
        for (uint32_t k = 0; k < kPlanes; ++k) planes[k] = &rows[(size_t(y) * kPlanes + k) * row_bytes];
        planes_from_pixel_row<1>(&pixels[size_t(y) * kWidth], kWidth, planes, kPlanes);
    }
    run_decoder(state, "wpgload1", 36, wpg_records(rows, row_bytes, kPlanes), {kWidth, kHeight, kPlanes},
                uint32_t(rows.size()));
}

void BM_MemcpyTargaWpg(benchmark::State& state) { bench_memcpy(state, uint32_t(state.range(0))); }

constexpr int64_t kBitRows = int64_t(kWidth / 8) * kHeight;
BENCHMARK(BM_MemcpyTargaWpg)->Arg(kBitRows)->Arg(kBitRows * kPlanes)->Arg(int64_t(kWidth) * kHeight)
    ->Arg(int64_t(kWidth) * kHeight * 2)->Arg(int64_t(kWidth) * kHeight * 3);
// Each decoder on both looks; each Targa decoder that stb_image can stand
// beside (it has no 1-bit pictures) right before it.
const bool registered = [] {
    for (const auto& [look, name] : {std::pair{Look::photo, "photo"}, std::pair{Look::flat, "flat"}}) {
        for (uint32_t bits : {1u, 8u, 16u, 24u}) {
            const std::string suffix = std::string(name) + "_" + std::to_string(bits);
            benchmark::RegisterBenchmark(("BM_TgaLoad/" + suffix).c_str(), BM_TgaLoad, look, bits);
            if (bits != 1) benchmark::RegisterBenchmark(("BM_StbTga/" + suffix).c_str(), BM_StbTga, look, bits);
        }
        benchmark::RegisterBenchmark((std::string("BM_WpgLoad1/") + name).c_str(), BM_WpgLoad1, look);
        benchmark::RegisterBenchmark((std::string("BM_WpgLoad4/") + name).c_str(), BM_WpgLoad4, look);
        benchmark::RegisterBenchmark((std::string("BM_WpgLoad8/") + name).c_str(), BM_WpgLoad8, look);
    }
    return true;
}();

} // namespace
