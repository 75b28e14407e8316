// Messages a browser sends the runner over its remote protocol (DevTools and
// BiDi alike): parsing never fails in any way but "not JSON", gives what a
// strict parser gives wherever that one accepts the text, and leaves no
// string that is not UTF-8 (unpaired surrogates become U+FFFD).
#include "tools/osascript/ProtocolJson.hpp"

#include <cstdint>
#include <cstdlib>
#include <string_view>

namespace {
void check(bool holds) {
    if (!holds) std::abort();
}
}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view text(reinterpret_cast<const char*>(data), size);
    const nlohmann::json message = vesko::protocol::parseMessage(text);
    if (message.is_discarded()) return 0;
    const auto strict = nlohmann::json::parse(text, nullptr, /*allow_exceptions=*/false);
    if (!strict.is_discarded()) check(message == strict);
    try {
        (void)message.dump();  // throws on a string that is not UTF-8
    } catch (const nlohmann::json::type_error&) {
        check(false);
    }
    return 0;
}
