#include "safari/AppleScriptRunner.hpp"

#include "platform/Bundle.hpp"
#include "platform/Log.hpp"
#include "platform/Process.hpp"

#include <unicode/uchar.h>
#include <unicode/utf8.h>

#include <cstdlib>

namespace vesko::safari {
namespace {

bool isTrimmed(UChar32 c) {
    if (c == 0x09 || (c >= 0x0A && c <= 0x0D) || c == 0x85) return true;
    switch (u_charType(c)) {
        case U_SPACE_SEPARATOR:
        case U_LINE_SEPARATOR:
        case U_PARAGRAPH_SEPARATOR: return true;
        default: return false;
    }
}

}  // namespace

std::filesystem::path scriptRunnerPath() {
    if (const char* overridden = std::getenv("VESKO_OSASCRIPT"); overridden && *overridden)
        return std::filesystem::path(overridden);
    return platform::bundle::executableFolder() / "vesko-osascript";
}

bool isValidUtf8(std::string_view bytes) {
    const auto* p = reinterpret_cast<const unsigned char*>(bytes.data());
    const auto* end = p + bytes.size();
    while (p < end) {
        const unsigned char c = *p;
        if (c < 0x80) {
            ++p;
            continue;
        }
        std::size_t length;
        unsigned char low = 0x80, high = 0xBF;  // bounds of the second byte
        if (c >= 0xC2 && c <= 0xDF) length = 2;
        else if (c >= 0xE0 && c <= 0xEF) {
            length = 3;
            if (c == 0xE0) low = 0xA0;        // overlong
            else if (c == 0xED) high = 0x9F;  // surrogates
        } else if (c >= 0xF0 && c <= 0xF4) {
            length = 4;
            if (c == 0xF0) low = 0x90;        // overlong
            else if (c == 0xF4) high = 0x8F;  // past U+10FFFF
        } else {
            return false;
        }
        if (static_cast<std::size_t>(end - p) < length) return false;
        if (p[1] < low || p[1] > high) return false;
        for (std::size_t i = 2; i < length; ++i)
            if ((p[i] & 0xC0) != 0x80) return false;
        p += length;
    }
    return true;
}

std::string trimWhitespace(std::string_view text) {
    const auto* s = reinterpret_cast<const uint8_t*>(text.data());
    const auto length = static_cast<int32_t>(text.size());
    int32_t start = 0;
    while (start < length) {
        int32_t next = start;
        UChar32 c;
        U8_NEXT(s, next, length, c);
        if (c < 0 || !isTrimmed(c)) break;
        start = next;
    }
    int32_t stop = length;
    while (stop > start) {
        int32_t previous = stop;
        UChar32 c;
        U8_PREV(s, start, previous, c);
        if (c < 0 || !isTrimmed(c)) break;
        stop = previous;
    }
    return std::string(text.substr(static_cast<std::size_t>(start), static_cast<std::size_t>(stop - start)));
}

ScriptOutcome runAppleScript(const std::filesystem::path& runner, const std::string& script) {
    auto run = platform::process::run(runner, {}, script);
    if (!run.launched) {
        platform::log::write("Vesko AppleScript launch error: " + run.launchError);
        return {std::nullopt, std::move(run.launchError)};
    }
    if (run.exitStatus != 0) {
        std::string error = isValidUtf8(run.standardError) ? std::move(run.standardError) : "unknown error";
        platform::log::write("Vesko AppleScript error: " + error);
        return {std::nullopt, std::move(error)};
    }
    if (!isValidUtf8(run.standardOutput)) return {};
    return {trimWhitespace(run.standardOutput), std::nullopt};
}

ScriptOutcome runAppleScript(const std::string& script) {
    return runAppleScript(scriptRunnerPath(), script);
}

}  // namespace vesko::safari
