#include "platform/Bundle.hpp"

#include <dlfcn.h>

#include <cstdlib>
#include <system_error>

namespace platform::bundle {
namespace {

// The installed tree: bin/ holds the executable, beside share/ and lib/.
std::filesystem::path installPrefix() { return executableFolder().parent_path(); }

bool isThere(const std::filesystem::path& path) {
    std::error_code error;
    return std::filesystem::exists(path, error);
}

}  // namespace

std::filesystem::path executableFolder() {
    std::error_code error;
    auto exe = std::filesystem::read_symlink("/proc/self/exe", error);
    if (error) return std::filesystem::current_path();
    return exe.parent_path();
}

std::filesystem::path resourceFolder() {
    if (const char* overridden = std::getenv("VESKO_RESOURCES"); overridden && *overridden)
        return std::filesystem::path(overridden);
    auto beside = executableFolder() / "resources";
    if (isThere(beside)) return beside;
    return installPrefix() / "share" / "vesko";
}

std::filesystem::path plugInPath(const std::string& fileName) {
    auto installed = installPrefix() / "lib" / "vesko" / fileName;
    if (isThere(installed)) return installed;
    return executableFolder() / fileName;
}

void* loadPlugInSymbol(const std::string& fileName, const char* symbol, std::string* error) {
    const auto path = plugInPath(fileName);
    // The plug-in stays loaded for the rest of the process.
    void* handle = dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
    if (!handle) {
        if (error) *error = dlerror();
        return nullptr;
    }
    void* address = dlsym(handle, symbol);
    if (!address && error) *error = path.string() + ": no symbol " + symbol;
    return address;
}

}  // namespace platform::bundle
