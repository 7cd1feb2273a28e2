// RGB8, Photo-CD and DEEP kernels on a 1920 x 1080 picture, photo-like and
// flat, in bytes per second of what each module writes: true-colour pixels
// for the decoders, records for rgb8store.
#include <string>

#include "bench/bench_support.h"
#include "kernels/codecs/pcx.h"

namespace {

constexpr uint32_t kWidth = 1920, kHeight = 1080;
constexpr uint32_t kPixelBytes = 3 * kWidth * kHeight;

enum class Look { photo, flat };

std::vector<uint8_t> picture(Look look, uint32_t width, uint32_t height, uint32_t channels)
{
    return look == Look::photo ? photo_like(width, height, channels) : flat(width, height, channels);
}

// RGB8 records of a true-colour picture, runs of up to 127 equal pixels.
std::vector<uint8_t> rgb8_records(const std::vector<uint8_t>& rgb)
{
    std::vector<uint8_t> out;
    const size_t pixels = rgb.size() / 3;
    for (size_t i = 0; i < pixels;) {
        size_t run = 1;
        while (run < 127 && i + run < pixels && std::memcmp(&rgb[3 * (i + run)], &rgb[3 * i], 3) == 0) ++run;
        out.insert(out.end(), {rgb[3 * i], rgb[3 * i + 1], rgb[3 * i + 2], uint8_t(run)});
        i += run;
    }
    return out;
}

// A DEEP body of three bytes a pixel: each row one PCX run-length line. Flat
// pictures are grey, so that their bytes run on as their pixels do.
std::vector<uint8_t> deep_rows(Look look)
{
    std::vector<uint8_t> rgb = picture(look, kWidth, kHeight, 3);
    if (look == Look::flat) {
        const auto grey = flat(kWidth, kHeight, 1);
        for (size_t i = 0; i < rgb.size(); ++i) rgb[i] = grey[i / 3];
    }
    std::vector<uint8_t> coded(2 * rgb.size());
    uint32_t at = 0;
    for (uint32_t y = 0; y < kHeight; ++y) at += pcx_encode_line(&rgb[size_t(y) * 3 * kWidth], 3 * kWidth, &coded[at]);
    coded.resize(at);
    return coded;
}

// Calls the module on a block whose words 2 on are the buffers (copies of
// `inputs`, then a destination of `output_room` bytes) and then `words`. The
// figure is `written(block)` bytes per call.
template <typename Written>
void run_module(benchmark::State& state, const char* name, uint32_t block_size,
                const std::vector<std::vector<uint8_t>>& inputs, uint32_t output_room, std::vector<uint32_t> words,
                Written written)
{
    const host_module* module = host_load_module(name);
    if (module == nullptr) {
        state.SkipWithError("module not found");
        return;
    }
    std::vector<uint8_t*> buffers;
    for (const auto& input : inputs) buffers.push_back(shared_copy(input));
    buffers.push_back(host_alloc(output_room));
    uint8_t* block = host_new_block(block_size);
    uint32_t w = 2;
    for (uint8_t* buffer : buffers) host_set_word(block, w++, host_address(buffer));
    for (uint32_t word : words) host_set_word(block, w++, word);
    for (auto _ : state) {
        host_call(module, block, 1);
        benchmark::ClobberMemory();
    }
    if (host_word(block, block_size / 4 - 1) != 0) state.SkipWithError("the module reported an error");
    state.SetBytesProcessed(int64_t(state.iterations()) * int64_t(written(block)));
    host_free(block);
    for (uint8_t* buffer : buffers) host_free(buffer);
}

uint64_t pixels_written(const uint8_t*) { return kPixelBytes; }

void BM_Rgb8Load(benchmark::State& state, Look look)
{
    run_module(state, "rgb8load", 32, {rgb8_records(picture(look, kWidth, kHeight, 3))}, kPixelBytes,
               {kWidth, kHeight, kPixelBytes}, pixels_written);
}

void BM_Rgb8Store(benchmark::State& state, Look look)
{
    const auto rgb = picture(look, kWidth, kHeight, 3);
    const uint64_t records = rgb8_records(rgb).size();
    state.SetLabel(std::to_string(records) + " bytes of records");
    run_module(state, "rgb8store", 32, {rgb}, 4 * kWidth * kHeight, {kWidth, kHeight},
               [](const uint8_t* block) { return uint64_t(host_word(block, 6)); });
}

void BM_YccConvert(benchmark::State& state, Look look)
{
    const auto luma = picture(look, kWidth, kHeight, 1);
    std::vector<uint8_t> even, odd;
    for (uint32_t y = 0; y < kHeight; ++y)
        (y % 2 ? odd : even).insert((y % 2 ? odd : even).end(), luma.begin() + y * kWidth, luma.begin() + (y + 1) * kWidth);
    const auto first = picture(look, kWidth / 2, kHeight / 2, 1);
    auto second = first;
    for (auto& v : second) v = uint8_t(255 - v);
    run_module(state, "yccconvert", 40, {even, odd, first, second}, kPixelBytes, {kWidth, kHeight}, pixels_written);
}

void BM_DeepLoad(benchmark::State& state, Look look)
{
    run_module(state, "deepload", 36, {deep_rows(look)}, kPixelBytes, {kWidth, kHeight, 0}, pixels_written);
}

void BM_MemcpyRgb8YccDeep(benchmark::State& state) { bench_memcpy(state, kPixelBytes); }

BENCHMARK(BM_MemcpyRgb8YccDeep);
BENCHMARK_CAPTURE(BM_Rgb8Load, photo, Look::photo);
BENCHMARK_CAPTURE(BM_Rgb8Load, flat, Look::flat);
BENCHMARK_CAPTURE(BM_Rgb8Store, photo, Look::photo);
BENCHMARK_CAPTURE(BM_Rgb8Store, flat, Look::flat);
BENCHMARK_CAPTURE(BM_YccConvert, photo, Look::photo);
BENCHMARK_CAPTURE(BM_YccConvert, flat, Look::flat);
BENCHMARK_CAPTURE(BM_DeepLoad, photo, Look::photo);
BENCHMARK_CAPTURE(BM_DeepLoad, flat, Look::flat);

} // namespace
