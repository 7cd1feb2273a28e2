// pictrender on 1920 x 1080 pictures, a 32-bit direct-colour map and an
// 8-bit indexed map, both PackBits-packed, in pixels per second from the
// file to the delivered picture; beside ImageMagick converting the same file
// to PPM as a whole process.
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

} // namespace
