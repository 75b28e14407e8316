// What a browser's port sends the runner before and around its messages: the
// HTTP answer (its head, a chunked body) and WebSocket frames. Decoding stays
// inside the bytes given, and every frame taken is no longer than what is left.
#include "tools/osascript/WebSocket.hpp"

#include <cstdint>
#include <cstdlib>
#include <string_view>
#include <vector>

namespace {
void check(bool holds) {
    if (!holds) std::abort();
}
}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    std::vector<char> bytes(data, data + size);
    std::string_view text(bytes.data(), bytes.size());
    std::size_t at = 0;
    if (auto head = vesko::protocol::readHttpHead(text)) {
        check(head->size <= text.size());
        const std::string_view body = text.substr(head->size);
        check(vesko::protocol::unchunk(body).size() <= body.size());
        at = head->size;
    }
    while (auto frame = vesko::protocol::takeFrame(bytes.data() + at, bytes.size() - at)) {
        check(frame->size >= 2 && frame->size <= bytes.size() - at);
        check(frame->payload.data() >= bytes.data() + at &&
              frame->payload.data() + frame->payload.size() == bytes.data() + at + frame->size);
        at += frame->size;
    }
    return 0;
}
