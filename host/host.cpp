#include "host/host.h"

#include <dlfcn.h>

#include <cstdio>
#include <cstring>
#include <map>
#include <string>

#include "platform/byteorder.h"

namespace {

std::string& module_dir()
{
    static std::string dir = MODULE_DIR;
    return dir;
}

std::map<std::string, host_module>& loaded()
{
    static auto* modules = new std::map<std::string, host_module>;
    return *modules;
}

} // namespace

void host_set_module_dir(const char* dir) { module_dir() = dir; }
const char* host_module_dir() { return module_dir().c_str(); }

const host_module* host_load_module(const char* name)
{
    auto known = loaded().find(name);
    if (known != loaded().end()) return &known->second;

    host_module module{};
    std::snprintf(module.name, sizeof module.name, "%s", name);
    std::snprintf(module.path, sizeof module.path, "%s/%s.so", module_dir().c_str(), name);
    module.handle = dlopen(module.path, RTLD_NOW | RTLD_LOCAL);
    if (module.handle == nullptr) return nullptr;
    module.function = reinterpret_cast<module_function>(dlsym(module.handle, "Function"));
    if (module.function == nullptr) return nullptr;
    return &loaded().emplace(name, module).first->second;
}

void* host_module_symbol(const host_module* module, const char* symbol)
{
    return module ? dlsym(module->handle, symbol) : nullptr;
}

uint8_t* host_alloc(uint32_t size) { return static_cast<uint8_t*>(AllocVec(size, MEMF_PUBLIC | MEMF_CLEAR)); }
void host_free(void* memory) { FreeVec(memory); }
uint8_t* host_new_block(uint32_t size) { return host_alloc(size); }

void host_set_word(void* block, uint32_t index, uint32_t value)
{
    store_be32(static_cast<uint8_t*>(block) + 4 * index, value);
}

uint32_t host_word(const void* block, uint32_t index)
{
    return load_be32(static_cast<const uint8_t*>(block) + 4 * index);
}

uint32_t host_call(const host_module* module, void* block, uint32_t command)
{
    host_set_word(block, 1, command);
    return module->function(block);
}

uint8_t* host_new_picture(uint32_t width, uint32_t height, uint32_t depth, bool with_pixels)
{
    uint8_t* record = host_alloc(820);
    if (record == nullptr) return nullptr;
    host_set_word(record, 2, width);
    host_set_word(record, 3, height);
    host_set_word(record, 4, depth);
    if (with_pixels) {
        const uint64_t length = uint64_t(width) * height * (depth == 24 ? 3 : 1);
        uint8_t* pixels = length <= 0xFFFFFFFFu ? host_alloc(uint32_t(length)) : nullptr;
        if (pixels == nullptr && length != 0) {
            host_free(record);
            return nullptr;
        }
        host_set_word(record, 200, host_address(pixels));
        host_set_word(record, 201, uint32_t(length));
    }
    return record;
}

void host_free_picture(uint8_t* record)
{
    if (record == nullptr) return;
    host_free(shared_pointer(host_word(record, 200)));
    host_free(record);
}
