#pragma once
// Where the application's own files are: the executable's folder and the
// resources folder that holds pages/.

#include <filesystem>

namespace platform::bundle {

// Folder of the running executable (/proc/self/exe).
std::filesystem::path executableFolder();

// The resources folder: $VESKO_RESOURCES when set, else "resources" beside
// the executable.
std::filesystem::path resourceFolder();

}  // namespace platform::bundle
