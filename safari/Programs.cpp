#include "safari/Programs.hpp"

#include "safari/ExtractionScript.hpp"

namespace vesko::safari {
namespace {

constexpr std::string_view kTabCountProgram =
    "tell application \"Safari\"\n"
    "    return count of tabs of window 1\n"
    "end tell";

constexpr std::string_view kTabListProgram =
    "tell application \"Safari\"\n"
    "    if (count of windows) is 0 then return \"\"\n"
    "    set lines_ to {}\n"
    "    repeat with t in tabs of window 1\n"
    "        set end of lines_ to (URL of t) & tab & (name of t)\n"
    "    end repeat\n"
    "    set AppleScript's text item delimiters to linefeed\n"
    "    return lines_ as text\n"
    "end tell";

}  // namespace

std::string escapeScriptForAppleScript(std::string_view script) {
    std::string out;
    out.reserve(script.size() + script.size() / 8);
    for (char c : script) {
        switch (c) {
            case '\\': out += "\\\\"; break;
            case '"': out += "\\\""; break;
            case '\n': out += ' '; break;
            case '\r': break;
            default: out += c;
        }
    }
    return out;
}

std::string escapeAddressForAppleScript(std::string_view address) {
    std::string out;
    out.reserve(address.size() + 8);
    for (char c : address) {
        if (c == '\\') out += "\\\\";
        else if (c == '"') out += "\\\"";
        else out += c;
    }
    return out;
}

std::string_view tabCountProgram() { return kTabCountProgram; }
std::string_view tabListProgram() { return kTabListProgram; }

std::string buildExtractionScript(const std::optional<std::int64_t>& tabIndex,
                                  const std::optional<std::string>& targetUrl) {
    static const std::string escapedScript = escapeScriptForAppleScript(kExtractionScript);
    std::string program = "set jsCode to \"" + escapedScript + "\"\n";
    program += "tell application \"Safari\"\n";
    if (targetUrl && !targetUrl->empty()) {
        program += "    repeat with w in windows\n"
                   "        repeat with t in tabs of w\n"
                   "            if URL of t starts with \"" +
                   escapeAddressForAppleScript(*targetUrl) +
                   "\" then\n"
                   "                return do JavaScript jsCode in t\n"
                   "            end if\n"
                   "        end repeat\n"
                   "    end repeat\n"
                   "    return \"null\"\n";
    } else if (!tabIndex) {
        program += "    return do JavaScript jsCode in current tab of front window\n";
    } else {
        program += "    return do JavaScript jsCode in tab " + std::to_string(*tabIndex) + " of window 1\n";
    }
    program += "end tell";
    return program;
}

}  // namespace vesko::safari
