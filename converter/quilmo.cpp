// Quilmo: converts one Amiga IFF-ILBM picture into one Windows BMP file.
//
//   Quilmo infile [outfile]
//
// Exit status: 0 after a completed conversion, 1 when the input could not be
// converted or the BMP could not be written, 2 when no input was named.

#include <cstdio>
#include <cstring>

#include "bmp.h"
#include "ilbm.h"
#include "services.h"

namespace {

constexpr int kExitConverted = 0;
constexpr int kExitFailed = 1;
constexpr int kExitUsage = 2;

bool IsBmpExtension(const char* extension)
{
    const char* bmp = "bmp";
    for (int i = 0; i < 3; ++i) {
        char c = extension[i];
        if (c >= 'A' && c <= 'Z')
            c = static_cast<char>(c - 'A' + 'a');
        if (c != bmp[i])
            return false;
    }
    return extension[3] == '\0';
}

// The input name with its extension replaced by ".bmp", or with ".bmp"
// appended when it has none or already ends in ".bmp" (in any case), so that
// the output never overwrites the input. Null when memory is short.
char* OutputNameFor(const char* input)
{
    const std::size_t length = std::strlen(input);
    std::size_t base = 0;   // start of the last path component
    for (std::size_t i = 0; i < length; ++i)
        if (input[i] == '/' || input[i] == '\\' || input[i] == ':')
            base = i + 1;
    std::size_t keep = length;
    const char* dot = std::strrchr(input + base, '.');
    if (dot && dot != input + base && !IsBmpExtension(dot + 1))
        keep = static_cast<std::size_t>(dot - input);

    auto* name = static_cast<char*>(MemAlloc(std::uint64_t{keep} + 5, kMemClear));
    if (!name)
        return nullptr;
    std::memcpy(name, input, keep);
    std::memcpy(name + keep, ".bmp", 5);
    return name;
}

// The file starts with FORM: see whether it is an ILBM and
// convert it. The stream stays open for the caller to close.
int ConvertForm(std::FILE* in, const char* outputName)
{
    std::uint32_t size = 0;
    char typeText[5] = {};
    FileRead(in, &size, 4);
    FileRead(in, typeText, 4);
    size = ConvertLong(size, kBigEndian, kLittleEndian);
    if (std::memcmp(typeText, "ILBM", 4) != 0) {
        std::printf("Unknown IFF file format !\n");
        return kExitFailed;
    }
    std::printf("\nReading IFF-%s file of size: %d...\n", typeText, static_cast<int>(AsPrinted(size)));
    std::fflush(stdout);

    ImageRecord* image = LoadILBM(in);
    if (!image) {
        std::printf("\nERROR: Could not import file !");
        return kExitFailed;
    }
    std::printf("\nSaving as BMP file...");
    std::fflush(stdout);
    const int saved = SaveBMP(image, outputName);
    MemFree(image->pixels);
    MemFree(image);
    return saved == 0 ? kExitConverted : kExitFailed;
}

int Convert(const char* inputName, const char* outputName)
{
    std::printf("\n\nChecking \"%s\"...", inputName);
    std::FILE* in = FileOpen(inputName, "rb");
    if (!in) {
        std::printf("File not found !\n");
        return kExitFailed;
    }
    int status = kExitFailed;
    std::uint8_t magic[4] = {};
    if (FileRead(in, magic, 4) != 4 || std::memcmp(magic, "FORM", 4) != 0) {
        std::printf("Not an IFF file !\n");
    } else {
        std::printf("\nIs an IFF file (subtype FORM)");
        std::fflush(stdout);
        status = ConvertForm(in, outputName);
    }
    FileClose(in);
    return status;
}

} // namespace

int main(int argc, char** argv)
{
    std::printf("\nQuilmo 1.00");
    std::printf("\nConverts Amiga IFF-ILBM files to Windows BMP format.");
    std::printf("\nWorks on 1..8, 24 bit and HAM images.");
    if (argc < 2) {
        std::printf("\nUSAGE: Quilmo infile outfile\n");
        return kExitUsage;
    }

    const char* inputName = argv[1];
    char* derivedName = argc > 2 ? nullptr : OutputNameFor(inputName);
    const char* outputName = argc > 2 ? argv[2] : derivedName;
    int status = kExitFailed;
    if (outputName) {
        status = Convert(inputName, outputName);
    } else {
        std::printf("\n\nChecking \"%s\"...", inputName);
        std::printf("\nERROR: Not enough memory");
    }
    MemFree(derivedName);
    std::printf("\n");
    return status;
}
