#pragma once
// Writing page-supplied data as files: Base64 bytes into the Downloads folder,
// fixture text into the fixtures folder. Each function returns the one reply
// script for its request.

#include "platform/FileManager.hpp"

#include <chrono>
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>

namespace vesko::files {

// Strict standard Base64: the RFC 4648 alphabet, length a multiple of four,
// at most two "=" and only at the end. Nothing else is accepted, no blanks or
// line breaks either. Empty text decodes to no bytes.
std::optional<std::string> decodeBase64(std::string_view text);

// Why `filename` cannot be used as one name inside a folder (empty, "." or "..",
// a "/" or a NUL in it), or nothing when it can.
std::optional<std::string> refusedNameMessage(std::string_view filename);

// A save writes a temporary file beside its target and renames it into place,
// so a save cut short (the process killed) leaves the old file or the new one,
// and maybe its temporary. Each save first removes, from its folder, the
// temporaries nobody has written to for this long: no save in progress
// comes near it.
inline constexpr std::chrono::minutes kStaleTemporaryAge{15};
void removeStaleTemporaries(const std::filesystem::path& folder);

std::filesystem::path fixturesFolder(const std::filesystem::path& home);

// Decodes `base64` and writes it as filename in the user's download folder
// (the folder is not created).
std::string saveFileReply(std::string_view base64, std::string_view filename, std::string_view callbackId,
                          const platform::FileManager& files);

// Writes `json` unchanged as home/lantern/test_fixtures/auto/filename, creating the folders.
std::string saveFixtureReply(std::string_view json, std::string_view filename, std::string_view callbackId,
                             const platform::FileManager& files);

}  // namespace vesko::files
