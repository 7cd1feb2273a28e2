#include "interop.h"

#include <cstdlib>
#include <fstream>
#include <iterator>
#include <map>

bool succeeds(const std::string& command) { return std::system((command + " >/dev/null 2>&1").c_str()) == 0; }

const std::string& python_with(const std::string& modules)
{
    static std::map<std::string, std::string> found;
    auto at = found.find(modules);
    if (at != found.end()) return at->second;
    std::string interpreter;
    for (const char* candidate : {"/usr/bin/python3", "python3"})
        if (succeeds(std::string(candidate) + " -c 'import " + modules + "'")) {
            interpreter = candidate;
            break;
        }
    return found.emplace(modules, interpreter).first->second;
}

const std::string& imagemagick_convert()
{
    static const std::string found = [] {
        for (const char* candidate : {"convert-im6.q16", "/usr/bin/convert"})
            if (succeeds(std::string(candidate) + " -version")) return std::string(candidate);
        return std::string();
    }();
    return found;
}

bool ffmpeg_found()
{
    static const bool found = succeeds("ffmpeg -version");
    return found;
}

std::vector<uint8_t> read_file(const std::filesystem::path& path)
{
    std::ifstream in(path, std::ios::binary);
    return std::vector<uint8_t>((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

void write_file(const std::filesystem::path& path, const std::vector<uint8_t>& bytes)
{
    std::ofstream out(path, std::ios::binary);
    out.write(reinterpret_cast<const char*>(bytes.data()), std::streamsize(bytes.size()));
}

TempFolder::TempFolder(const char* prefix)
{
    std::string pattern = (std::filesystem::temp_directory_path() / (std::string(prefix) + "_XXXXXX")).string();
    if (mkdtemp(pattern.data()) != nullptr) path = pattern;
}

TempFolder::~TempFolder()
{
    std::error_code ignored;
    if (!path.empty()) std::filesystem::remove_all(path, ignored);
}
