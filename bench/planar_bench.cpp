// Planar and chunky conversions on a 1920 x 1080 picture, in bytes per second
// of chunky (or true-colour) data, beside memcpy of the same bytes.
#include "bench/bench_support.h"

namespace {

constexpr uint32_t kWidth = 1920, kHeight = 1080;
constexpr uint32_t kRowBytes = (kWidth + 7) / 8;

void run_conversion(benchmark::State& state, const char* name, uint32_t block_size, uint32_t planes,
                    uint32_t source_size, uint32_t destination_size, uint32_t chunky_bytes, const uint8_t* source_bytes)
{
    const host_module* module = host_load_module(name);
    if (module == nullptr) {
        state.SkipWithError("module not found");
        return;
    }
    uint8_t* source = host_alloc(source_size);
    uint8_t* destination = host_alloc(destination_size);
    uint8_t* block = host_new_block(block_size);
    std::memcpy(source, source_bytes, source_size);
    host_set_word(block, 2, host_address(source));
    host_set_word(block, 3, host_address(destination));
    host_set_word(block, 4, kWidth);
    host_set_word(block, 5, kHeight);
    if (planes != 24) host_set_word(block, 6, planes);
    for (auto _ : state) {
        state.PauseTiming();
        std::memset(destination, 0, destination_size);  // the host clears the output
        state.ResumeTiming();
        host_call(module, block, 1);
        benchmark::ClobberMemory();
    }
    state.SetBytesProcessed(int64_t(state.iterations()) * chunky_bytes);
    host_free(block);
    host_free(destination);
    host_free(source);
}

void BM_ChunkyToPlanes8(benchmark::State& state)
{
    const auto chunky = photo_like(kWidth, kHeight, 1);
    run_conversion(state, "chunkytoplanes", 32, 8, kWidth * kHeight, 8 * kRowBytes * kHeight, kWidth * kHeight,
                   chunky.data());
}

void BM_PlanesToChunky8(benchmark::State& state)
{
    const auto planar = photo_like(kRowBytes, kHeight * 8, 1);
    run_conversion(state, "planestochunky", 32, 8, 8 * kRowBytes * kHeight, kWidth * kHeight, kWidth * kHeight,
                   planar.data());
}

void BM_TrueToPlanes24(benchmark::State& state)
{
    const auto rgb = photo_like(kWidth, kHeight, 3);
    run_conversion(state, "truetoplanes", 28, 24, kWidth * kHeight * 3, 24 * kRowBytes * kHeight,
                   kWidth * kHeight * 3, rgb.data());
}

void BM_PlanesToTrue24(benchmark::State& state)
{
    const auto planar = photo_like(kRowBytes, kHeight * 24, 1);
    run_conversion(state, "planestotrue", 28, 24, 24 * kRowBytes * kHeight, kWidth * kHeight * 3,
                   kWidth * kHeight * 3, planar.data());
}

void BM_MemcpyChunky8(benchmark::State& state) { bench_memcpy(state, kWidth * kHeight); }
void BM_MemcpyTrue24(benchmark::State& state) { bench_memcpy(state, kWidth * kHeight * 3); }

BENCHMARK(BM_MemcpyChunky8);
BENCHMARK(BM_ChunkyToPlanes8);
BENCHMARK(BM_PlanesToChunky8);
BENCHMARK(BM_MemcpyTrue24);
BENCHMARK(BM_TrueToPlanes24);
BENCHMARK(BM_PlanesToTrue24);

} // namespace
