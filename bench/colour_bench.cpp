// Colour-reduction kernels on a 1920 x 1080 photo-like picture, in pixels
// per second, beside a memcpy of its true-colour bytes. diffusedither's
// Floyd-Steinberg run stands beside ImageMagick's `convert-im6.q16 in.png
// -colors 256 -dither FloydSteinberg out.png`, timed as a whole process (PNG
// reading and writing and its start included), wall clock and the child's
// CPU time both reported.
#include <sys/resource.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>

#include "bench/bench_support.h"

namespace {

namespace fs = std::filesystem;

constexpr uint32_t kWidth = 1920, kHeight = 1080;
constexpr uint32_t kPixels = kWidth * kHeight;

void report(benchmark::State& state)
{
    state.counters["pixels/s"] = benchmark::Counter(double(kPixels), benchmark::Counter::kIsIterationInvariantRate);
}

uint8_t* palette_dither_block(const uint8_t* rgb, uint8_t* indices, uint8_t* record, uint32_t mode)
{
    uint8_t* block = host_new_block(28);
    host_set_word(block, 2, host_address(rgb));
    host_set_word(block, 3, host_address(indices));
    host_set_word(block, 4, host_address(record));
    host_set_word(block, 5, mode);
    return block;
}

// One true-colour picture and what diffusedither makes of it at depth 8: the
// indices and the palette (in the record), reused by the palette modules.
struct ColourPictures {
    uint8_t* rgb;
    uint8_t* indices;
    uint8_t* record;
};

const ColourPictures& pictures()
{
    static const ColourPictures made = [] {
        ColourPictures p{shared_copy(photo_like(kWidth, kHeight, 3)), host_alloc(kPixels), host_alloc(820)};
        host_set_word(p.record, 2, kWidth);
        host_set_word(p.record, 3, kHeight);
        host_set_word(p.record, 4, 8);
        if (const host_module* module = host_load_module("diffusedither")) {
            uint8_t* block = palette_dither_block(p.rgb, p.indices, p.record, 1);
            host_call(module, block, 1);
            host_free(block);
        }
        return p;
    }();
    return made;
}

void BM_ColourMemcpy(benchmark::State& state)
{
    bench_memcpy(state, kPixels * 3);
    report(state);
}

// The module, or null with the benchmark skipped.
const host_module* module_or_skip(benchmark::State& state, const char* name)
{
    const host_module* module = host_load_module(name);
    if (module == nullptr) state.SkipWithError("module not found");
    return module;
}

void run_module(benchmark::State& state, const host_module* module, uint8_t* block)
{
    for (auto _ : state) {
        host_call(module, block, 1);
        benchmark::ClobberMemory();
    }
    report(state);
}

void BM_DiffuseDither(benchmark::State& state, uint32_t mode)
{
    const host_module* module = module_or_skip(state, "diffusedither");
    if (module == nullptr) return;
    uint8_t* indices = host_alloc(kPixels);
    uint8_t* record = host_alloc(820);
    host_set_word(record, 2, kWidth);
    host_set_word(record, 3, kHeight);
    host_set_word(record, 4, 8);
    uint8_t* block = palette_dither_block(pictures().rgb, indices, record, mode);
    run_module(state, module, block);
    host_free(block);
    host_free(record);
    host_free(indices);
}

void BM_MapDither(benchmark::State& state, uint32_t mode)
{
    const host_module* module = module_or_skip(state, "mapdither");
    if (module == nullptr) return;
    uint8_t* indices = host_alloc(kPixels);
    uint8_t* block = palette_dither_block(pictures().rgb, indices, pictures().record, mode);
    run_module(state, module, block);
    host_free(block);
    host_free(indices);
}

// An 8 x 8 Bayer matrix and a 6 x 6 x 6 cube: with S = 64 the thresholds
// run over 0 to 64 x 256 in steps of 256, and every level stays below 6.
void BM_OrderDither(benchmark::State& state)
{
    const host_module* module = module_or_skip(state, "orderdither");
    if (module == nullptr) return;
    const ColourPictures& p = pictures();
    uint8_t* indices = host_alloc(kPixels);
    uint8_t* matrix = host_alloc(8 * 4);
    uint8_t* rows[8];
    for (uint32_t y = 0; y < 8; ++y) {
        rows[y] = host_alloc(8 * 4);
        for (uint32_t x = 0; x < 8; ++x) {
            uint32_t bayer = 0;
            for (uint32_t bit = 0; bit < 3; ++bit) {
                const uint32_t xb = (x >> bit) & 1, yb = (y >> bit) & 1;
                bayer |= ((xb ^ yb) << (5 - 2 * bit)) | (yb << (4 - 2 * bit));
            }
            host_set_word(rows[y], x, bayer * 256);
        }
        host_set_word(matrix, y, host_address(rows[y]));
    }
    uint8_t* block = host_new_block(52);
    host_set_word(block, 2, host_address(p.rgb));
    host_set_word(block, 3, host_address(indices));
    host_set_word(block, 4, kWidth);
    host_set_word(block, 5, kHeight);
    for (uint32_t w = 6; w <= 8; ++w) host_set_word(block, w, 6);
    host_set_word(block, 9, 64);
    host_set_word(block, 10, 8);
    host_set_word(block, 11, host_address(matrix));
    run_module(state, module, block);
    host_free(block);
    for (uint8_t* row : rows) host_free(row);
    host_free(matrix);
    host_free(indices);
}

void BM_CurveDither(benchmark::State& state)
{
    const host_module* module = module_or_skip(state, "curvedither");
    if (module == nullptr) return;
    const ColourPictures& p = pictures();
    uint8_t* levels = host_alloc(kWidth * ((kHeight + 15) / 16 * 16));
    uint8_t* block = host_new_block(24);
    host_set_word(block, 2, host_address(p.indices));
    host_set_word(block, 3, host_address(levels));
    host_set_word(block, 4, host_address(p.record));
    run_module(state, module, block);
    host_free(block);
    host_free(levels);
}

// Packs diffusedither's 256-colour picture; after the first run the picture
// is already packed, and every run does the same counting and renumbering.
void BM_PaletteTune(benchmark::State& state)
{
    const host_module* module = module_or_skip(state, "palettetune");
    if (module == nullptr) return;
    const ColourPictures& p = pictures();
    uint8_t* pixels = host_alloc(kPixels);
    std::memcpy(pixels, p.indices, kPixels);
    uint8_t* record = host_alloc(820);
    std::memcpy(record, p.record, 820);
    host_set_word(record, 200, host_address(pixels));
    host_set_word(record, 201, kPixels);
    uint8_t* block = host_new_block(16);
    host_set_word(block, 2, host_address(record));
    run_module(state, module, block);
    host_free(block);
    host_free(record);
    host_free(pixels);
}

// ImageMagick as a process on the same picture, written once as a PNG.
void BM_ImageMagickColors256FloydSteinberg(benchmark::State& state)
{
    const std::string convert = "convert-im6.q16";
    if (std::system((convert + " -version >/dev/null 2>&1").c_str()) != 0) {
        state.SkipWithError("convert-im6.q16 not found");
        return;
    }
    const fs::path dir = fs::temp_directory_path() / ("colour_bench_" + std::to_string(getpid()));
    fs::create_directories(dir);
    const fs::path ppm = dir / "in.ppm", in = dir / "in.png", out = dir / "out.png";
    {
        const std::vector<uint8_t> rgb = photo_like(kWidth, kHeight, 3);
        std::FILE* f = std::fopen(ppm.c_str(), "wb");
        if (f) {
            std::fprintf(f, "P6\n%u %u\n255\n", kWidth, kHeight);
            std::fwrite(rgb.data(), 1, rgb.size(), f);
            std::fclose(f);
        }
    }
    if (std::system((convert + " '" + ppm.string() + "' '" + in.string() + "'").c_str()) != 0) {
        state.SkipWithError("ImageMagick could not write the PNG");
        fs::remove_all(dir);
        return;
    }
    const std::string command =
        convert + " '" + in.string() + "' -colors 256 -dither FloydSteinberg '" + out.string() + "'";
    rusage before{}, after{};
    getrusage(RUSAGE_CHILDREN, &before);
    for (auto _ : state) {
        if (std::system(command.c_str()) != 0) {
            state.SkipWithError("ImageMagick failed");
            break;
        }
    }
    getrusage(RUSAGE_CHILDREN, &after);
    const auto seconds = [](const timeval& t) { return double(t.tv_sec) + double(t.tv_usec) / 1e6; };
    const double cpu = seconds(after.ru_utime) - seconds(before.ru_utime) + seconds(after.ru_stime) -
                       seconds(before.ru_stime);
    state.counters["child_cpu_ms"] = 1000 * cpu / double(std::max<int64_t>(1, int64_t(state.iterations())));
    report(state);
    fs::remove_all(dir);
}

BENCHMARK(BM_ColourMemcpy)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BM_DiffuseDither, Mode0, 0)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BM_DiffuseDither, FloydSteinberg, 1)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BM_DiffuseDither, Burkes, 2)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BM_DiffuseDither, FloydSteinbergWall, 1)->UseRealTime()->Unit(benchmark::kMillisecond);
BENCHMARK(BM_ImageMagickColors256FloydSteinberg)->UseRealTime()->Unit(benchmark::kMillisecond)->Iterations(3);
BENCHMARK_CAPTURE(BM_MapDither, Mode0, 0)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BM_MapDither, FloydSteinberg, 1)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_OrderDither)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_CurveDither)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_PaletteTune)->Unit(benchmark::kMillisecond);

} // namespace
