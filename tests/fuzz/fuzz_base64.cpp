// Base64 from the page: any text decodes or is refused without harm; what
// decodes has the size its length and padding say; and any bytes, encoded by
// GLib's encoder, decode back to themselves.
#include "files/FileOutput.hpp"

#include <glib.h>

#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

namespace {
void check(bool holds) {
    if (!holds) std::abort();
}
}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view text(reinterpret_cast<const char*>(data), size);
    if (const auto decoded = vesko::files::decodeBase64(text)) {
        const std::size_t padding = text.ends_with("==") ? 2 : text.ends_with("=") ? 1 : 0;
        check(text.size() % 4 == 0 && decoded->size() == text.size() / 4 * 3 - padding);
    }
    gchar* encoded = g_base64_encode(data, size);
    const auto roundTrip = vesko::files::decodeBase64(encoded);
    g_free(encoded);
    check(roundTrip && *roundTrip == text);
    return 0;
}
