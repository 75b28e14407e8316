// What a browser writes to the extension host: frames are read up to the
// first bad one, and the host's checks on a body agree with independent ones
// (UTF-8 with GLib's validator, nesting with the parsed value, the compact
// size bound with the value written compactly).
#include "extension/platform/NativeMessaging.hpp"

#include <glib.h>
#include <sys/mman.h>
#include <unistd.h>

#include <cstdint>
#include <cstdlib>
#include <string>

namespace nm = extension::platform::nativeMessaging;

namespace {

void check(bool holds) {
    if (!holds) std::abort();
}

std::size_t depthOf(const nlohmann::json& value) {
    std::size_t deepest = 0;
    if (value.is_structured())
        for (const auto& item : value) deepest = std::max(deepest, depthOf(item));
    return value.is_structured() ? deepest + 1 : 0;
}

void checkBody(const std::string& body) {
    if (body.find('\0') == std::string::npos)
        check(nm::isValidUtf8(body) == static_cast<bool>(g_utf8_validate(body.data(), static_cast<gssize>(body.size()), nullptr)));
    // The host refuses a raw NUL byte before parsing (the parser would stop there).
    if (!nm::isValidUtf8(body) || body.find('\0') != std::string::npos) return;
    const std::size_t limit = 64;
    const std::size_t depth = nm::nestingDepth(body, limit);
    if (depth > limit) return;  // the host skips it undecoded
    const auto value = nlohmann::json::parse(body, nullptr, /*allow_exceptions=*/false);
    if (value.is_discarded()) return;
    check(depth == depthOf(value));
    check(nm::minimumCompactSize(body) <= value.dump().size());
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    static const int fd = memfd_create("frames", 0);
    if (ftruncate(fd, 0) != 0 || pwrite(fd, data, size, 0) != static_cast<ssize_t>(size) || lseek(fd, 0, SEEK_SET) != 0)
        return 0;
    nm::FrameReader reader(fd);
    std::string body;
    std::size_t consumed = 0;
    while (reader.next(body) == nm::ReadStatus::Message) {
        consumed += 4 + body.size();
        check(consumed <= size && reader.announcedLength() == body.size());
        checkBody(body);
    }
    // The input itself as one body.
    checkBody(std::string(reinterpret_cast<const char*>(data), size));
    return 0;
}
