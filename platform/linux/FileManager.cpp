#include "platform/FileManager.hpp"

#include <fcntl.h>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <random>
#include <vector>

namespace platform {
namespace {

constexpr const char* kOpen = "\xE2\x80\x9C";   // left double quotation mark
constexpr const char* kClose = "\xE2\x80\x9D";  // right double quotation mark
constexpr const char* kApostrophe = "\xE2\x80\x99";

std::string quoted(const std::string& text) { return kOpen + text + kClose; }

std::string folderName(const std::filesystem::path& file) {
    std::string name = file.parent_path().filename().string();
    return name.empty() ? file.parent_path().string() : name;
}

FileError saveError(int code, const std::filesystem::path& file) {
    const std::string name = quoted(file.filename().string());
    const std::string folder = quoted(folderName(file));
    const std::string couldnt = std::string("couldn") + kApostrophe + "t";
    std::string text;
    switch (code) {
        case ENOENT:
            text = "The file " + name + " " + couldnt + " be saved because the folder " + folder + " doesn" +
                   kApostrophe + "t exist.";
            break;
        case EACCES:
        case EPERM:
            text = std::string("You don") + kApostrophe + "t have permission to save the file " + name +
                   " in the folder " + folder + ".";
            break;
        case ENOSPC:
        case EDQUOT:
            text = "The file " + name + " " + couldnt + " be saved because there isn" + kApostrophe +
                   "t enough space.";
            break;
        case EROFS:
            text = "The file " + name + " " + couldnt + " be saved because the volume is read only.";
            break;
        case EISDIR:
            text = "The file " + name + " " + couldnt + " be saved because a folder of that name already exists.";
            break;
        case EFBIG:
            text = "The file " + name + " " + couldnt + " be saved because it is too large.";
            break;
        default:
            text = "The file " + name + " " + couldnt + " be saved in the folder " + folder + ". (" +
                   std::strerror(code) + ")";
    }
    return FileError{code, std::move(text)};
}

std::string temporaryName() {
    thread_local std::mt19937_64 generator{std::random_device{}()};
    static constexpr char digits[] = "0123456789abcdef";
    std::string name = ".vesko-";
    std::uint64_t value = generator();
    for (int i = 0; i < 16; ++i, value >>= 4) name += digits[value & 0xF];
    return name + ".tmp";
}

bool writeAll(int fd, std::string_view bytes) {
    const char* p = bytes.data();
    std::size_t left = bytes.size();
    while (left > 0) {
        const ssize_t written = ::write(fd, p, left);
        if (written < 0) {
            if (errno == EINTR) continue;
            return false;
        }
        p += written;
        left -= static_cast<std::size_t>(written);
    }
    return true;
}

}  // namespace

FileManager& FileManager::defaultManager() {
    static FileManager manager;
    return manager;
}

std::filesystem::path FileManager::homeDirectoryForCurrentUser() const {
    if (const char* home = std::getenv("HOME"); home && *home) return home;
    std::vector<char> buffer(16384);
    passwd entry{};
    passwd* found = nullptr;
    if (getpwuid_r(getuid(), &entry, buffer.data(), buffer.size(), &found) == 0 && found && found->pw_dir)
        return found->pw_dir;
    return "/";
}

std::filesystem::path FileManager::downloadsDirectory() const {
    const std::filesystem::path home = homeDirectoryForCurrentUser();
    std::filesystem::path config = home / ".config";
    if (const char* configHome = std::getenv("XDG_CONFIG_HOME"); configHome && configHome[0] == '/')
        config = configHome;
    // Lines of the form XDG_DOWNLOAD_DIR="$HOME/Downloads" or ="/absolute/path";
    // the last one counts, anything else is skipped.
    std::optional<std::filesystem::path> found;
    std::ifstream dirs(config / "user-dirs.dirs");
    for (std::string line; std::getline(dirs, line);) {
        std::string_view p = line;
        auto skipBlanks = [&p] {
            while (!p.empty() && (p.front() == ' ' || p.front() == '\t')) p.remove_prefix(1);
        };
        skipBlanks();
        if (!p.starts_with("XDG_DOWNLOAD_DIR")) continue;
        p.remove_prefix(16);
        skipBlanks();
        if (!p.starts_with('=')) continue;
        p.remove_prefix(1);
        skipBlanks();
        if (!p.starts_with('"')) continue;
        p.remove_prefix(1);
        const bool relative = p.starts_with("$HOME");
        if (relative) p.remove_prefix(5);
        else if (!p.starts_with('/')) continue;
        const auto end = p.rfind('"');
        if (end == std::string_view::npos) continue;
        p = p.substr(0, end);
        if (p.size() > 1 && p.ends_with('/')) p.remove_suffix(1);
        if (relative) {
            while (p.starts_with('/')) p.remove_prefix(1);
            found = home / std::string(p);
        } else {
            found = std::filesystem::path(std::string(p));
        }
    }
    return found ? *found : home / "Downloads";
}

std::optional<FileError> FileManager::createDirectory(const std::filesystem::path& folder, bool intermediates) const {
    std::error_code error;
    if (intermediates) {
        std::filesystem::create_directories(folder, error);
    } else if (!std::filesystem::create_directory(folder, error) && !error &&
               !std::filesystem::is_directory(folder, error)) {
        error = std::make_error_code(std::errc::file_exists);
    }
    if (!error) return std::nullopt;
    return FileError{error.value(), "The folder " + quoted(folder.filename().string()) + " couldn" + kApostrophe +
                                        "t be created. (" + error.message() + ")"};
}

std::optional<FileError> FileManager::writeAtomically(const std::filesystem::path& file, std::string_view bytes) const {
    const std::filesystem::path folder = file.parent_path();
    std::filesystem::path temporary;
    int fd = -1;
    for (int attempt = 0; attempt < 64 && fd < 0; ++attempt) {
        temporary = folder / temporaryName();
        fd = ::open(temporary.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
        if (fd < 0 && errno != EEXIST) return saveError(errno, file);
    }
    if (fd < 0) return saveError(EEXIST, file);

    auto fail = [&](int code) {
        if (fd >= 0) ::close(fd);
        ::unlink(temporary.c_str());
        return saveError(code, file);
    };
    if (!writeAll(fd, bytes)) return fail(errno);
    // A file being replaced keeps its permissions.
    struct stat existing {};
    if (::stat(file.c_str(), &existing) == 0 && S_ISREG(existing.st_mode))
        if (::fchmod(fd, existing.st_mode & 07777) != 0) return fail(errno);
    if (::fsync(fd) != 0) return fail(errno);
    const int closed = ::close(fd);
    fd = -1;
    if (closed != 0) return fail(errno);
    if (::rename(temporary.c_str(), file.c_str()) != 0) return fail(errno);
    return std::nullopt;
}

}  // namespace platform
