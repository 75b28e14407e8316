#pragma once
// Where the application's own files are, in the build folder and in an
// installed tree alike, and loading of its plug-ins.
//
//   build folder                     installed under a prefix
//   build/vesko                      bin/vesko
//   build/resources/pages/...        share/vesko/pages/...
//   build/vesko-desktop.so           lib/vesko/vesko-desktop.so

#include <filesystem>
#include <string>

namespace platform::bundle {

// Folder of the running executable (/proc/self/exe).
std::filesystem::path executableFolder();

// The resources folder (the one holding pages/): $VESKO_RESOURCES when set,
// else "resources" beside the executable when that folder exists, else
// share/vesko of the tree the executable is installed in.
std::filesystem::path resourceFolder();

// The plug-in file `fileName`: lib/vesko of the installed tree when it is
// there, else beside the executable.
std::filesystem::path plugInPath(const std::string& fileName);

// Loads the plug-in `fileName` and returns the address of its symbol
// `symbol`, or nullptr with the reason in `error`.
void* loadPlugInSymbol(const std::string& fileName, const char* symbol, std::string* error);

}  // namespace platform::bundle
