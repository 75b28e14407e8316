#include "platform/URL.hpp"

#include <curl/curl.h>

#include <cctype>

namespace platform {
namespace {

struct URLHandle {
    CURLU* handle = curl_url();
    ~URLHandle() { curl_url_cleanup(handle); }
};

struct CurlText {
    char* text = nullptr;
    ~CurlText() { curl_free(text); }
};

bool hasScheme(std::string_view text) {
    // ALPHA *( ALPHA / DIGIT / "+" / "-" / "." ) ":" before any "/", "?" or "#".
    const auto colon = text.find(':');
    if (colon == std::string_view::npos || colon == 0) return false;
    if (text.find_first_of("/?#") < colon) return false;
    for (std::size_t i = 0; i < colon; ++i) {
        const unsigned char c = static_cast<unsigned char>(text[i]);
        const bool ok = std::isalpha(c) || (i > 0 && (std::isdigit(c) || c == '+' || c == '-' || c == '.'));
        if (!ok) return false;
    }
    return true;
}

// A reference without a scheme that resolves against a base URL.
bool isRelativeReference(const std::string& text) {
    if (text.empty() || hasScheme(text)) return false;
    URLHandle url;
    return url.handle && curl_url_set(url.handle, CURLUPART_URL, "http://relative.invalid/", 0) == CURLUE_OK &&
           curl_url_set(url.handle, CURLUPART_URL, text.c_str(), 0) == CURLUE_OK;
}

}  // namespace

std::optional<URL> URL::parse(std::string_view text) {
    // A NUL inside the text would cut it short for the parser; such a text is no URL.
    if (text.empty() || text.find('\0') != std::string_view::npos) return std::nullopt;
    const std::string copy(text);
    URLHandle handle;
    if (!handle.handle) return std::nullopt;
    URL url;
    if (curl_url_set(handle.handle, CURLUPART_URL, copy.c_str(), CURLU_NON_SUPPORT_SCHEME) != CURLUE_OK) {
        if (!isRelativeReference(copy)) return std::nullopt;
        url.absoluteString_ = copy;
        url.relative_ = true;
        return url;
    }
    CurlText full;
    if (curl_url_get(handle.handle, CURLUPART_URL, &full.text, 0) != CURLUE_OK || !full.text) return std::nullopt;
    url.absoluteString_ = full.text;
    CurlText host;
    if (curl_url_get(handle.handle, CURLUPART_HOST, &host.text, 0) == CURLUE_OK && host.text && *host.text)
        url.host_ = host.text;
    return url;
}

}  // namespace platform
