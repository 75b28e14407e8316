// Programs given to the script runner: the lexer and the parser either accept
// a program or refuse it with a syntax error, nothing else.
#include "tools/osascript/Lexer.hpp"
#include "tools/osascript/Parser.hpp"

#include <cstdint>
#include <string>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string program(reinterpret_cast<const char*>(data), size);
    try {
        vesko::osascript::tokenize(program);
        vesko::osascript::parse(program);
    } catch (const vesko::osascript::SyntaxError&) {
    }
    return 0;
}
