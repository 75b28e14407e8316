#include "files/FileOutput.hpp"

#include "platform/Text.hpp"
#include "web/Reply.hpp"

#include <array>
#include <chrono>

namespace vesko::files {
namespace {

constexpr std::array<signed char, 256> kBase64Values = [] {
    std::array<signed char, 256> values{};
    values.fill(-1);
    const char* alphabet = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
    for (int i = 0; i < 64; ++i) values[static_cast<unsigned char>(alphabet[i])] = static_cast<signed char>(i);
    return values;
}();

std::string quoted(std::string_view text) { return "\xE2\x80\x9C" + std::string(text) + "\xE2\x80\x9D"; }

// True for the name of a temporary file a save writes before renaming it into
// place: ".vesko-", 16 hexadecimal digits, ".tmp" (see FileManager::writeAtomically).
bool isSaveTemporary(std::string_view name) {
    constexpr std::string_view prefix = ".vesko-", suffix = ".tmp";
    if (name.size() != prefix.size() + 16 + suffix.size() || !name.starts_with(prefix) || !name.ends_with(suffix))
        return false;
    const std::string_view digits = name.substr(prefix.size(), 16);
    return digits.find_first_not_of("0123456789abcdef") == std::string_view::npos;
}

// Writes `bytes` as `folder`/`filename` and answers with the path or the failure.
std::string writeReply(const std::filesystem::path& folder, std::string_view filename, std::string_view bytes,
                       std::string_view callbackId, const platform::FileManager& files) {
    if (auto refusal = refusedNameMessage(filename))
        return reply::rejectMessage(callbackId, *refusal, reply::MessageEscaping::Quote);
    removeStaleTemporaries(folder);
    const std::filesystem::path target = folder / std::filesystem::path(std::string(filename));
    if (auto error = files.writeAtomically(target, bytes))
        return reply::rejectMessage(callbackId, error->localizedDescription, reply::MessageEscaping::Quote);
    return reply::resolveText(callbackId, target.string());
}

}  // namespace

std::optional<std::string> decodeBase64(std::string_view text) {
    if (text.size() % 4 != 0) return std::nullopt;
    std::size_t padding = 0;
    if (!text.empty() && text.back() == '=') padding = text[text.size() - 2] == '=' ? 2 : 1;
    const std::size_t dataLength = text.size() - padding;
    std::string out;
    out.reserve(text.size() / 4 * 3);
    std::uint32_t accumulator = 0;
    int bits = 0;
    for (std::size_t i = 0; i < dataLength; ++i) {
        const int value = kBase64Values[static_cast<unsigned char>(text[i])];
        if (value < 0) return std::nullopt;  // outside the alphabet, or "=" before the end
        accumulator = (accumulator << 6) | static_cast<std::uint32_t>(value);
        bits += 6;
        if (bits >= 8) {
            bits -= 8;
            out.push_back(static_cast<char>((accumulator >> bits) & 0xFF));
        }
    }
    return out;
}

std::optional<std::string> refusedNameMessage(std::string_view filename) {
    if (filename.empty()) return std::string("The file name is empty.");
    if (filename.find('\0') != std::string_view::npos)
        return std::string("The file name is not allowed because it contains a NUL character.");
    if (filename == "." || filename == "..")
        return "The file name " + quoted(filename) + " is not allowed because it names a folder.";
    if (filename.find('/') != std::string_view::npos)
        return "The file name " + quoted(filename) + " is not allowed because it contains " + quoted("/") + ".";
    return std::nullopt;
}

void removeStaleTemporaries(const std::filesystem::path& folder) {
    namespace fs = std::filesystem;
    std::error_code error;
    const auto now = fs::file_time_type::clock::now();
    for (fs::directory_iterator it(folder, error), end; !error && it != end; it.increment(error)) {
        if (!isSaveTemporary(it->path().filename().string())) continue;
        std::error_code entryError;
        const auto modified = it->last_write_time(entryError);
        if (!entryError && it->is_regular_file(entryError) && now - modified >= kStaleTemporaryAge)
            fs::remove(it->path(), entryError);
    }
}

std::filesystem::path fixturesFolder(const std::filesystem::path& home) {
    return home / "lantern" / "test_fixtures" / "auto";
}

std::string saveFileReply(std::string_view base64, std::string_view filename, std::string_view callbackId,
                          const platform::FileManager& files) {
    auto bytes = decodeBase64(base64);
    if (!bytes) return reply::rejectFixed(callbackId, reply::FixedReject::InvalidBase64);
    return writeReply(files.downloadsDirectory(), filename, *bytes, callbackId, files);
}

std::string saveFixtureReply(std::string_view json, std::string_view filename, std::string_view callbackId,
                             const platform::FileManager& files) {
    if (!platform::text::isValidUTF8(json)) return reply::rejectFixed(callbackId, reply::FixedReject::InvalidJSON);
    // A refused name leaves no trace, not even the folders.
    if (auto refusal = refusedNameMessage(filename))
        return reply::rejectMessage(callbackId, *refusal, reply::MessageEscaping::Quote);
    const std::filesystem::path folder = fixturesFolder(files.homeDirectoryForCurrentUser());
    // A folder that cannot be made shows up as the write's failure.
    (void)files.createDirectory(folder, true);
    return writeReply(folder, filename, json, callbackId, files);
}

}  // namespace vesko::files
