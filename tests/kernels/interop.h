// What the interop tests share: finding the independent programs they
// compare against, files in and out, and a scratch folder. A test whose
// program is missing skips with a message naming the Debian package.
#pragma once

#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

// Runs a shell command with its output thrown away; true when it exits 0.
bool succeeds(const std::string& command);

// The first Python interpreter that can import `modules` ("PIL", or
// "PIL, numpy"); empty when none can. Looked up once per set of modules.
const std::string& python_with(const std::string& modules);

// ImageMagick's convert by its Debian name (never a `convert` that happens
// to come first on the path); empty when it is missing.
const std::string& imagemagick_convert();

bool ffmpeg_found();

std::vector<uint8_t> read_file(const std::filesystem::path& path);
void write_file(const std::filesystem::path& path, const std::vector<uint8_t>& bytes);

// A new folder under the temporary one, removed with all it holds.
struct TempFolder {
    std::filesystem::path path;
    explicit TempFolder(const char* prefix = "interop");
    ~TempFolder();
    TempFolder(const TempFolder&) = delete;
    TempFolder& operator=(const TempFolder&) = delete;
};
