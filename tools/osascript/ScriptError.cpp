#include "tools/osascript/ScriptError.hpp"

#include <algorithm>

namespace vesko::osascript {

namespace {

// Byte offset to character offset in UTF-8 text.
std::size_t characterOffset(const std::string& text, std::size_t byte) {
    byte = std::min(byte, text.size());
    std::size_t count = 0;
    for (std::size_t i = 0; i < byte; ++i)
        if ((static_cast<unsigned char>(text[i]) & 0xC0) != 0x80) ++count;
    return count;
}

std::string location(const std::string& program, SourceRange range) {
    return std::to_string(characterOffset(program, range.begin)) + ":" +
           std::to_string(characterOffset(program, range.end)) + ": ";
}

}  // namespace

std::string formatSyntaxError(const std::string& program, const SyntaxError& error) {
    return location(program, error.range) + "syntax error: " + error.what() + " (" + std::to_string(error.number) + ")";
}

std::string formatExecutionError(const std::string& program, const ExecutionError& error) {
    std::string text = location(program, error.range) + "execution error: ";
    if (!error.application.empty()) text += error.application + " got an error: ";
    return text + error.what() + " (" + std::to_string(error.number) + ")";
}

}  // namespace vesko::osascript
