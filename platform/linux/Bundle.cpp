#include "platform/Bundle.hpp"

#include <cstdlib>
#include <system_error>

namespace platform::bundle {

std::filesystem::path executableFolder() {
    std::error_code error;
    auto exe = std::filesystem::read_symlink("/proc/self/exe", error);
    if (error) return std::filesystem::current_path();
    return exe.parent_path();
}

std::filesystem::path resourceFolder() {
    if (const char* overridden = std::getenv("VESKO_RESOURCES"); overridden && *overridden)
        return std::filesystem::path(overridden);
    return executableFolder() / "resources";
}

}  // namespace platform::bundle
