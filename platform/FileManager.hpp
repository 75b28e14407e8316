#pragma once
// The file manager: the current user's home folder, folder creation and
// whole-file writes. Failures come back as an error with a description fit to
// show to the user.

#include <filesystem>
#include <optional>
#include <string>
#include <string_view>

namespace platform {

struct FileError {
    int code = 0;  // the errno value
    std::string localizedDescription;
};

class FileManager {
public:
    static FileManager& defaultManager();

    // $HOME when set and not empty, else the home folder of the user database.
    std::filesystem::path homeDirectoryForCurrentUser() const;

    // The user's download folder: XDG_DOWNLOAD_DIR in user-dirs.dirs of the
    // user's configuration folder ($XDG_CONFIG_HOME, else ~/.config), read as
    // GLib reads it; else "Downloads" in the home folder. Read afresh on every
    // call; the folder is neither checked nor created.
    std::filesystem::path downloadsDirectory() const;

    // Creates `folder`; with `intermediates` also every missing parent. An
    // existing folder is no failure.
    std::optional<FileError> createDirectory(const std::filesystem::path& folder, bool intermediates) const;

    // Writes `bytes` as the whole content of `file`, all or nothing: the bytes go
    // to a temporary file in the same folder, reach the disk, and the temporary
    // file then takes the place of `file` in one step. A failure leaves an
    // existing `file` as it was and no temporary file behind. A replaced file
    // keeps its permissions; a new one gets the defaults (0666 less the umask).
    std::optional<FileError> writeAtomically(const std::filesystem::path& file, std::string_view bytes) const;
};

}  // namespace platform
