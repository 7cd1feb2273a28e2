// BMP and PCX kernels on a 1920 x 1080 picture, photo-like and flat, in bytes
// per second of decoded pixels (the decoders' output, the encoders' input).
#include "bench/bench_support.h"
#include "kernels/codecs/pcx.h"
#include "kernels/ilbm/planar.h"

namespace {

constexpr uint32_t kWidth = 1920, kHeight = 1080;
constexpr uint32_t kPlaneRow = kWidth / 8;  // 240, even: a PCX line as it stands

enum class Look { photo, flat };

std::vector<uint8_t> picture(Look look, uint32_t width, uint32_t height, uint32_t channels)
{
    return look == Look::photo ? photo_like(width, height, channels) : flat(width, height, channels);
}

// Four bit planes of the picture's low four bits, plane after plane.
std::vector<uint8_t> four_planes(Look look)
{
    const auto pixels = picture(look, kWidth, kHeight, 1);
    std::vector<uint8_t> planar(4 * kPlaneRow * kHeight);
    for (uint32_t y = 0; y < kHeight; ++y) {
        uint8_t* rows[4];
        for (uint32_t k = 0; k < 4; ++k) rows[k] = planar.data() + (k * kHeight + y) * kPlaneRow;
        planes_from_pixel_row<1>(pixels.data() + y * kWidth, kWidth, rows, 4);
    }
    return planar;
}

// PCX lines of `length` bytes, one after another, coded.
std::vector<uint8_t> pcx_coded(const std::vector<uint8_t>& lines, uint32_t length)
{
    std::vector<uint8_t> coded(2 * lines.size());
    uint32_t at = 0;
    for (size_t i = 0; i < lines.size(); i += length) at += pcx_encode_line(lines.data() + i, length, coded.data() + at);
    coded.resize(at);
    return coded;
}

// RLE8 rows: runs of 2 and more, absolute runs of 3 and more, an end of line
// after each row and an end of bitmap.
std::vector<uint8_t> rle8_coded(const std::vector<uint8_t>& pixels, uint32_t width, uint32_t height)
{
    std::vector<uint8_t> out;
    for (uint32_t y = 0; y < height; ++y) {
        const uint8_t* row = pixels.data() + size_t(y) * width;
        uint32_t x = 0;
        while (x < width) {
            uint32_t run = 1;
            while (x + run < width && run < 255 && row[x + run] == row[x]) ++run;
            if (run >= 2) {
                out.insert(out.end(), {uint8_t(run), row[x]});
                x += run;
                continue;
            }
            uint32_t n = 1;
            while (x + n < width && n < 255 && !(x + n + 1 < width && row[x + n] == row[x + n + 1])) ++n;
            if (n < 3) {
                for (uint32_t i = 0; i < n; ++i) out.insert(out.end(), {1, row[x + i]});
            } else {
                out.insert(out.end(), {0, uint8_t(n)});
                out.insert(out.end(), row + x, row + x + n);
                if (n % 2) out.push_back(0);
            }
            x += n;
        }
        out.insert(out.end(), {0, 0});
    }
    out.insert(out.end(), {0, 1});
    return out;
}

// Calls the module on a block whose words 2 on are given; `restore`, when
// set, is copied over the source before each call (outside the timing), for
// decoders that rewrite their source.
void run_module(benchmark::State& state, const char* name, uint32_t block_size, const std::vector<uint8_t>& source,
                uint32_t destination_size, std::vector<uint32_t> words_after_buffers, uint64_t pixel_bytes,
                bool restore, uint32_t scratch_size = 0)
{
    const host_module* module = host_load_module(name);
    if (module == nullptr) {
        state.SkipWithError("module not found");
        return;
    }
    uint8_t* src = shared_copy(source);
    uint8_t* dst = host_alloc(destination_size);
    uint8_t* scratch = scratch_size ? host_alloc(scratch_size) : nullptr;
    uint8_t* block = host_new_block(block_size);
    std::vector<uint32_t> words = {host_address(src), host_address(dst)};
    if (scratch) words.push_back(host_address(scratch));
    words.insert(words.end(), words_after_buffers.begin(), words_after_buffers.end());
    for (uint32_t i = 0; i < words.size(); ++i) host_set_word(block, 2 + i, words[i]);
    for (auto _ : state) {
        if (restore) {
            state.PauseTiming();
            std::memcpy(src, source.data(), source.size());
            state.ResumeTiming();
        }
        host_call(module, block, 1);
        benchmark::ClobberMemory();
    }
    if (host_word(block, block_size / 4 - 1) != 0) state.SkipWithError("the module reported an error");
    state.SetBytesProcessed(int64_t(state.iterations()) * int64_t(pixel_bytes));
    host_free(block);
    if (scratch) host_free(scratch);
    host_free(dst);
    host_free(src);
}

uint32_t padded(uint32_t bytes) { return (bytes + 3) / 4 * 4; }

void BM_BmpStore(benchmark::State& state, Look look, uint32_t depth)
{
    const uint32_t channels = depth == 24 ? 3 : 1;
    const auto pixels = picture(look, kWidth, kHeight, channels);
    run_module(state, "bmpstore", 36, pixels, padded(kWidth * channels) * kHeight, {kWidth, kHeight, depth},
               pixels.size(), false, kWidth * channels);
}

void BM_BmpLoad(benchmark::State& state, Look look, uint32_t depth)
{
    const uint32_t channels = depth == 24 ? 3 : 1;
    const auto rows = picture(look, kWidth, kHeight, channels);  // rows need no padding at this width
    run_module(state, "bmpload", 36, rows, kWidth * kHeight * channels, {kWidth, kHeight, depth}, rows.size(), false);
}

void BM_BmpRunLoad(benchmark::State& state, Look look)
{
    const auto coded = rle8_coded(picture(look, kWidth, kHeight, 1), kWidth, kHeight);
    run_module(state, "bmprunload", 36, coded, kWidth * kHeight, {kWidth, kHeight, 8}, kWidth * kHeight, false);
}

void BM_PcxLoad8(benchmark::State& state, Look look)
{
    const auto coded = pcx_coded(picture(look, kWidth, kHeight, 1), kWidth);
    run_module(state, "pcxload8", 40, coded, kWidth * kHeight, {kWidth, kHeight, 0, kWidth}, kWidth * kHeight, true);
}

void BM_PcxLoad24(benchmark::State& state, Look look)
{
    // Scan lines of three planes: red, green and blue lines of each row.
    const auto rgb = picture(look, kWidth, kHeight, 3);
    std::vector<uint8_t> lines(rgb.size());
    for (uint32_t y = 0; y < kHeight; ++y)
        for (uint32_t x = 0; x < kWidth; ++x)
            for (uint32_t c = 0; c < 3; ++c) lines[(3 * y + c) * kWidth + x] = rgb[(y * kWidth + x) * 3 + c];
    run_module(state, "pcxload24", 40, pcx_coded(lines, kWidth), 3 * kWidth * kHeight, {kWidth, kHeight, 24, kWidth},
               3 * kWidth * kHeight, true);
}

void BM_PcxLoad4(benchmark::State& state, Look look)
{
    const auto planar = four_planes(look);
    std::vector<uint8_t> lines(planar.size());  // scan lines: four plane rows per row
    for (uint32_t y = 0; y < kHeight; ++y)
        for (uint32_t k = 0; k < 4; ++k)
            std::memcpy(&lines[(4 * y + k) * kPlaneRow], &planar[(k * kHeight + y) * kPlaneRow], kPlaneRow);
    run_module(state, "pcxload4", 44, pcx_coded(lines, kPlaneRow), uint32_t(planar.size()),
               {kWidth, kHeight, 4, kPlaneRow}, planar.size(), true, kPlaneRow);
}

void BM_PcxStore8(benchmark::State& state, Look look)
{
    const auto rows = picture(look, kWidth, kHeight, 1);
    run_module(state, "pcxstore8", 32, rows, (kHeight + 1) * kWidth, {kWidth, kHeight}, rows.size(), false);
}

void BM_PcxStore4(benchmark::State& state, Look look)
{
    const auto planar = four_planes(look);
    run_module(state, "pcxstore4", 40, planar, uint32_t(planar.size()), {kPlaneRow, kHeight, 4}, planar.size(), false,
               kPlaneRow);
}

void BM_PcxStore24(benchmark::State& state, Look look)
{
    const auto rgb = picture(look, kWidth, kHeight, 3);
    run_module(state, "pcxstore24", 32, rgb, uint32_t(rgb.size()), {kWidth, kHeight}, rgb.size(), false);
}

void BM_MemcpyBmpPcx8(benchmark::State& state) { bench_memcpy(state, kWidth * kHeight); }

BENCHMARK(BM_MemcpyBmpPcx8);
BENCHMARK_CAPTURE(BM_BmpStore, photo_8, Look::photo, 8);
BENCHMARK_CAPTURE(BM_BmpStore, flat_8, Look::flat, 8);
BENCHMARK_CAPTURE(BM_BmpStore, photo_24, Look::photo, 24);
BENCHMARK_CAPTURE(BM_BmpStore, flat_24, Look::flat, 24);
BENCHMARK_CAPTURE(BM_BmpLoad, photo_8, Look::photo, 8);
BENCHMARK_CAPTURE(BM_BmpLoad, flat_8, Look::flat, 8);
BENCHMARK_CAPTURE(BM_BmpLoad, photo_24, Look::photo, 24);
BENCHMARK_CAPTURE(BM_BmpLoad, flat_24, Look::flat, 24);
BENCHMARK_CAPTURE(BM_BmpRunLoad, photo, Look::photo);
BENCHMARK_CAPTURE(BM_BmpRunLoad, flat, Look::flat);
BENCHMARK_CAPTURE(BM_PcxLoad4, photo, Look::photo);
BENCHMARK_CAPTURE(BM_PcxLoad4, flat, Look::flat);
BENCHMARK_CAPTURE(BM_PcxLoad8, photo, Look::photo);
BENCHMARK_CAPTURE(BM_PcxLoad8, flat, Look::flat);
BENCHMARK_CAPTURE(BM_PcxLoad24, photo, Look::photo);
BENCHMARK_CAPTURE(BM_PcxLoad24, flat, Look::flat);
BENCHMARK_CAPTURE(BM_PcxStore4, photo, Look::photo);
BENCHMARK_CAPTURE(BM_PcxStore4, flat, Look::flat);
BENCHMARK_CAPTURE(BM_PcxStore8, photo, Look::photo);
BENCHMARK_CAPTURE(BM_PcxStore8, flat, Look::flat);
BENCHMARK_CAPTURE(BM_PcxStore24, photo, Look::photo);
BENCHMARK_CAPTURE(BM_PcxStore24, flat, Look::flat);

} // namespace
