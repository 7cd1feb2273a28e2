// Helpers of the benchmarks: modules are driven through the host harness on
// shared-memory buffers, exactly as the host library would.
#pragma once

#include <benchmark/benchmark.h>

#include <cstdint>
#include <cstring>
#include <vector>

#include "host/host.h"

// A picture with the look of a photograph: smooth gradients with a little
// noise, so that neighbouring pixels are alike but seldom equal.
inline std::vector<uint8_t> photo_like(uint32_t width, uint32_t height, uint32_t channels)
{
    std::vector<uint8_t> pixels(size_t(width) * height * channels);
    uint32_t seed = 12345;
    for (uint32_t y = 0; y < height; ++y)
        for (uint32_t x = 0; x < width; ++x)
            for (uint32_t c = 0; c < channels; ++c) {
                seed = seed * 1103515245u + 12345u;
                const uint32_t base = (x * (c + 1) + y * (3 - c)) / 8;
                pixels[(size_t(y) * width + x) * channels + c] = uint8_t(base + ((seed >> 16) & 7));
            }
    return pixels;
}

// A flat picture: long runs of one value.
inline std::vector<uint8_t> flat(uint32_t width, uint32_t height, uint32_t channels)
{
    std::vector<uint8_t> pixels(size_t(width) * height * channels);
    for (uint32_t y = 0; y < height; ++y)
        for (uint32_t x = 0; x < width; ++x)
            for (uint32_t c = 0; c < channels; ++c)
                pixels[(size_t(y) * width + x) * channels + c] = uint8_t(((y / 64) * 40 + (x / 256) * 16 + c * 80));
    return pixels;
}

inline uint8_t* shared_copy(const std::vector<uint8_t>& bytes)
{
    uint8_t* p = host_alloc(uint32_t(bytes.size()));
    if (p) std::memcpy(p, bytes.data(), bytes.size());
    return p;
}

// The yardstick every kernel figure stands beside: copying the same bytes.
inline void bench_memcpy(benchmark::State& state, uint32_t bytes)
{
    std::vector<uint8_t> from(bytes, 1), to(bytes);
    for (auto _ : state) {
        std::memcpy(to.data(), from.data(), bytes);
        benchmark::DoNotOptimize(to.data());
        benchmark::ClobberMemory();
    }
    state.SetBytesProcessed(int64_t(state.iterations()) * bytes);
}
