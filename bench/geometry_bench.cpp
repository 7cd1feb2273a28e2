// Geometry and filter kernels on a 1920 x 1080 photo-like picture, in source
// pixels per second, beside memcpy of the picture's bytes (and, for
// doublesize, of the four times larger destination it writes).
#include "bench/bench_support.h"

namespace {

constexpr uint32_t kWidth = 1920, kHeight = 1080;
constexpr uint32_t kPixels = kWidth * kHeight;

void report(benchmark::State& state)
{
    state.counters["pixels"] = benchmark::Counter(double(state.iterations()) * kPixels, benchmark::Counter::kIsRate);
}

uint8_t* new_record(uint32_t width, uint32_t height, uint8_t* pixels, uint32_t length)
{
    uint8_t* record = host_alloc(820);
    host_set_word(record, 2, width);
    host_set_word(record, 3, height);
    host_set_word(record, 200, host_address(pixels));
    host_set_word(record, 201, length);
    return record;
}

// A module that takes a source and a destination picture record of the same
// size: the rotations and the filters. `angle` is stored for the rotations.
void run_records(benchmark::State& state, const char* name, uint32_t block_size, uint32_t pixel_bytes,
                 int32_t angle = 0)
{
    const host_module* module = host_load_module(name);
    if (module == nullptr) {
        state.SkipWithError("module not found");
        return;
    }
    const uint32_t size = kPixels * pixel_bytes;
    uint8_t* source = shared_copy(photo_like(kWidth, kHeight, pixel_bytes));
    uint8_t* destination = host_alloc(size);
    uint8_t* from = new_record(kWidth, kHeight, source, size);
    uint8_t* to = new_record(kWidth, kHeight, destination, size);
    uint8_t* block = host_new_block(block_size);
    host_set_word(block, 2, host_address(from));
    host_set_word(block, 3, host_address(to));
    if (block_size == 32) {
        host_set_word(block, 4, uint32_t(angle));
        host_set_word(block, 5, kWidth / 2);
        host_set_word(block, 6, kHeight / 2);
    }
    for (auto _ : state) {
        host_call(module, block, 1);
        benchmark::ClobberMemory();
    }
    report(state);
    host_free(block);
    host_free(to);
    host_free(from);
    host_free(destination);
    host_free(source);
}

void run_scaling(benchmark::State& state, const char* name, uint32_t depth, bool doubling)
{
    const host_module* module = host_load_module(name);
    if (module == nullptr) {
        state.SkipWithError("module not found");
        return;
    }
    const uint32_t pixel_bytes = depth == 24 ? 3 : 1;
    uint8_t* source = shared_copy(photo_like(kWidth, kHeight, pixel_bytes));
    uint8_t* destination = host_alloc(doubling ? 4 * kPixels * pixel_bytes : kPixels / 4 * pixel_bytes);
    uint8_t* block = host_new_block(32);
    host_set_word(block, 2, host_address(source));
    host_set_word(block, 3, host_address(destination));
    host_set_word(block, 4, kWidth);
    host_set_word(block, 5, kHeight);
    host_set_word(block, 6, depth);
    for (auto _ : state) {
        host_call(module, block, 1);
        benchmark::ClobberMemory();
    }
    report(state);
    host_free(block);
    host_free(destination);
    host_free(source);
}

void BM_GeometryMemcpy1(benchmark::State& state)
{
    bench_memcpy(state, kPixels);
    report(state);
}
void BM_GeometryMemcpy3(benchmark::State& state)
{
    bench_memcpy(state, kPixels * 3);
    report(state);
}
void BM_GeometryMemcpy4x1(benchmark::State& state)
{
    bench_memcpy(state, 4 * kPixels);
    report(state);
}
void BM_GeometryMemcpy4x3(benchmark::State& state)
{
    bench_memcpy(state, 4 * kPixels * 3);
    report(state);
}

void BM_TurnTrue30(benchmark::State& state) { run_records(state, "turntrue", 32, 3, 30000); }
void BM_TurnIndexed30(benchmark::State& state) { run_records(state, "turnindexed", 32, 1, 30000); }
void BM_DoubleSize8(benchmark::State& state) { run_scaling(state, "doublesize", 8, true); }
void BM_DoubleSize24(benchmark::State& state) { run_scaling(state, "doublesize", 24, true); }
void BM_HalfSize8(benchmark::State& state) { run_scaling(state, "halfsize", 8, false); }
void BM_HalfSize24(benchmark::State& state) { run_scaling(state, "halfsize", 24, false); }
void BM_Crispen(benchmark::State& state) { run_records(state, "crispen", 20, 3); }
void BM_Soften(benchmark::State& state) { run_records(state, "soften", 20, 3); }

BENCHMARK(BM_GeometryMemcpy1)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_GeometryMemcpy3)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_GeometryMemcpy4x1)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_GeometryMemcpy4x3)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_TurnTrue30)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_TurnIndexed30)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_DoubleSize8)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_DoubleSize24)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_HalfSize8)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_HalfSize24)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Crispen)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Soften)->Unit(benchmark::kMillisecond);

} // namespace
