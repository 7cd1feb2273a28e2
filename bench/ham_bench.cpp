// HAM kernels on a 1920 x 1080 photo-like true-colour picture, in pixels per
// second. The expander works on the HAM8 codes hameight makes of it.
#include "bench/bench_support.h"

namespace {

constexpr uint32_t kWidth = 1920, kHeight = 1080;
constexpr uint32_t kPixels = kWidth * kHeight;

struct HamBuffers {
    uint8_t* rgb;
    uint8_t* codes;
    uint8_t* palette;  // 64 entries
    uint8_t* table;    // hameight's colour table, hamsix's work buffer
    uint8_t* record;
};

HamBuffers ham_buffers()
{
    HamBuffers b{shared_copy(photo_like(kWidth, kHeight, 3)), host_alloc(kPixels), host_alloc(64 * 3),
                 host_alloc(4096 * 8), host_alloc(820)};
    return b;
}

void free_ham_buffers(const HamBuffers& b)
{
    host_free(b.record);
    host_free(b.table);
    host_free(b.palette);
    host_free(b.codes);
    host_free(b.rgb);
}

void fill_encoder_block(uint8_t* block, const HamBuffers& b)
{
    host_set_word(block, 2, host_address(b.rgb));
    host_set_word(block, 3, host_address(b.codes));
    host_set_word(block, 4, kWidth);
    host_set_word(block, 5, kHeight);
}

void report(benchmark::State& state)
{
    state.counters["pixels"] = benchmark::Counter(double(state.iterations()) * kPixels, benchmark::Counter::kIsRate);
}

// `palette_word` and `table_word` are 0 where the module's block has none.
void run_encoder(benchmark::State& state, const char* name, uint32_t block_size, uint32_t palette_word,
                 uint32_t table_word, bool host_clears_table)
{
    const host_module* module = host_load_module(name);
    if (module == nullptr) {
        state.SkipWithError("module not found");
        return;
    }
    const HamBuffers b = ham_buffers();
    uint8_t* block = host_new_block(block_size);
    fill_encoder_block(block, b);
    if (palette_word) host_set_word(block, palette_word, host_address(b.palette));
    if (table_word) host_set_word(block, table_word, host_address(b.table));
    for (auto _ : state) {
        if (host_clears_table) {
            state.PauseTiming();
            std::memset(b.table, 0, 4096 * 8);
            state.ResumeTiming();
        }
        host_call(module, block, 1);
        benchmark::ClobberMemory();
    }
    report(state);
    host_free(block);
    free_ham_buffers(b);
}

void BM_HamExpand8(benchmark::State& state)
{
    const host_module* encoder = host_load_module("hameight");
    const host_module* module = host_load_module("hamexpand");
    if (module == nullptr || encoder == nullptr) {
        state.SkipWithError("module not found");
        return;
    }
    const HamBuffers b = ham_buffers();
    uint8_t* encode = host_new_block(36);
    fill_encoder_block(encode, b);
    host_set_word(encode, 6, host_address(b.palette));
    host_set_word(encode, 7, host_address(b.table));
    host_call(encoder, encode, 1);

    uint8_t* expanded = host_alloc(kPixels * 3);
    uint8_t* block = host_new_block(40);
    host_set_word(block, 2, host_address(b.codes));
    host_set_word(block, 3, host_address(expanded));
    host_set_word(block, 4, host_address(b.record));
    host_set_word(block, 5, kWidth);
    host_set_word(block, 6, kHeight);
    host_set_word(block, 7, 8);
    host_set_word(block, 8, host_address(b.palette));
    for (auto _ : state) {
        host_call(module, block, 1);
        benchmark::ClobberMemory();
    }
    report(state);
    host_free(block);
    host_free(expanded);
    host_free(encode);
    free_ham_buffers(b);
}

void BM_HamEight(benchmark::State& state) { run_encoder(state, "hameight", 36, 6, 7, true); }
void BM_HamSix(benchmark::State& state) { run_encoder(state, "hamsix", 32, 0, 6, false); }
void BM_HamEightFast(benchmark::State& state) { run_encoder(state, "hameightfast", 28, 0, 0, false); }
void BM_HamSixFast(benchmark::State& state) { run_encoder(state, "hamsixfast", 28, 0, 0, false); }

BENCHMARK(BM_HamExpand8)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_HamEight)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_HamSix)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_HamEightFast)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_HamSixFast)->Unit(benchmark::kMillisecond);

} // namespace
