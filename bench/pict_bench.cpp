// pictrender on 1920 x 1080 pictures, a 32-bit direct-colour map and an
// 8-bit indexed map, both PackBits-packed, in pixels per second from the
// file to the delivered picture; beside ImageMagick converting the same file
// to PPM as a whole process. And a picture drawn with the pen and the text
// (lines, frames, painted rectangles and polygons, strings), beside memcpy
// of its 24-bit pixels.
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <string>

#include "bench/bench_support.h"
#include "tests/kernels/pict_writer.h"

namespace {

namespace fs = std::filesystem;
constexpr uint16_t kWidth = 1920, kHeight = 1080;

// Never destroyed, so the exit handler that removes it can still use it.
const fs::path& scratch_dir()
{
    static const fs::path* dir = [] {
        auto* d = new fs::path(fs::temp_directory_path() / ("pict_bench_" + std::to_string(getpid())));
        fs::create_directories(*d);
        std::atexit([] { fs::remove_all(scratch_dir()); });
        return d;
    }();
    return *dir;
}

std::string direct_file()
{
    static const std::string path = [] {
        const pict::Rect frame = {0, 0, kHeight, kWidth};
        pict::Picture p = pict::begin(2, frame);
        pict::direct32(p, frame, photo_like(kWidth, kHeight, 3), frame, frame, 64);
        const std::string made = (scratch_dir() / "direct32.pict").string();
        pict::write_file(made, pict::end(p));
        return made;
    }();
    return path;
}

std::string indexed_file()
{
    static const std::string path = [] {
        const pict::Rect frame = {0, 0, kHeight, kWidth};
        std::vector<pict::Rgb16> table;
        for (uint32_t i = 0; i < 256; ++i)
            table.push_back({uint16_t(i * 0x101), uint16_t((255 - i) * 0x101), uint16_t((i * 7 % 256) * 0x101)});
        pict::Picture p = pict::begin(2, frame);
        pict::indexed(p, 0x98, frame, 8, photo_like(kWidth, kHeight, 1), table, frame, frame, 0);
        const std::string made = (scratch_dir() / "indexed8.pict").string();
        pict::write_file(made, pict::end(p));
        return made;
    }();
    return path;
}

// A chart-like picture: a grid of lines, framed and painted bars, filled
// triangles and a label on each bar.
std::string drawing_file()
{
    static const std::string path = [] {
        const pict::Rect frame = {0, 0, kHeight, kWidth};
        pict::Picture p = pict::begin(2, frame);
        for (uint16_t x = 0; x < kWidth; x += 40) pict::line(p, x, 0, x, kHeight - 1);
        for (uint16_t y = 0; y < kHeight; y += 40) pict::line(p, 0, y, kWidth - 1, y);
        pict::pen_size(p, 2, 2);
        for (uint16_t i = 0; i < 200; ++i) {
            const uint16_t left = uint16_t(i * 9 + 10), top = uint16_t(100 + (i * 37) % 800);
            const pict::Rect bar = {top, left, uint16_t(kHeight - 20), uint16_t(left + 8)};
            pict::colour(p, 0x1A, {uint16_t(i * 300), uint16_t(0xFFFF - i * 200), 0x4000});
            pict::rect_op(p, 0x31, bar);
            pict::colour(p, 0x1A, {0, 0, 0});
            pict::op(p, 0x38);
            pict::long_text(p, left, uint16_t(top - 4), "Bar " + std::to_string(i));
        }
        pict::pen_size(p, 1, 1);
        pict::pen_mode(p, 2);
        for (int32_t i = 0; i < 100; ++i) {
            const int32_t x = 20 + (i * 173) % 1700, y = 20 + (i * 91) % 900;
            pict::polygon(p, {{x, y}, {x + 200, y + 40}, {x + 60, y + 150}});
        }
        const std::string made = (scratch_dir() / "drawing.pict").string();
        pict::write_file(made, pict::end(p));
        return made;
    }();
    return path;
}

void report(benchmark::State& state, const std::string& file)
{
    state.counters["pixels/s"] =
        benchmark::Counter(double(kWidth) * kHeight, benchmark::Counter::kIsIterationInvariantRate);
    state.counters["file_MB"] = double(fs::file_size(file)) / 1e6;
}

// The host's side of a run: a block naming the file; the record and pixels
// the run hands over are freed after each run, outside the timing.
void BM_pictrender(benchmark::State& state, std::string (*file)())
{
    const std::string path = file();
    const host_module* module = host_load_module("pictrender");
    if (module == nullptr) {
        state.SkipWithError("pictrender not found");
        return;
    }
    uint8_t* name = host_alloc(uint32_t(path.size() + 1));
    std::memcpy(name, path.c_str(), path.size() + 1);
    uint8_t* block = host_new_block(52);
    for (auto _ : state) {
        host_set_word(block, 2, 0);
        host_set_word(block, 3, host_address(name));
        host_call(module, block, 1);
        state.PauseTiming();
        if (host_word(block, 12) != 0) state.SkipWithError("pictrender failed");
        host_free_picture(static_cast<uint8_t*>(shared_pointer(host_word(block, 2))));
        state.ResumeTiming();
    }
    host_free(block);
    host_free(name);
    report(state, path);
}

void BM_imagemagick(benchmark::State& state, std::string (*file)())
{
    const std::string path = file();
    const std::string out = (scratch_dir() / "out.ppm").string();
    const std::string command = "convert-im6.q16 '" + path + "' 'ppm:" + out + "' >/dev/null 2>&1";
    for (auto _ : state) {
        if (std::system(command.c_str()) != 0) {
            state.SkipWithError("convert-im6.q16 failed or is missing (Debian package imagemagick)");
            break;
        }
    }
    report(state, path);
}

BENCHMARK_CAPTURE(BM_pictrender, Direct32, direct_file)->UseRealTime()->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BM_imagemagick, Direct32, direct_file)->UseRealTime()->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BM_pictrender, Indexed8PackBits, indexed_file)->UseRealTime()->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BM_imagemagick, Indexed8PackBits, indexed_file)->UseRealTime()->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BM_pictrender, Drawing, drawing_file)->UseRealTime()->Unit(benchmark::kMillisecond);

void BM_MemcpyPictPixels(benchmark::State& state) { bench_memcpy(state, 3u * kWidth * kHeight); }
BENCHMARK(BM_MemcpyPictPixels)->Unit(benchmark::kMillisecond);

} // namespace
