#pragma once
// URLs: parsing from text and the parts the application reads.

#include <optional>
#include <string>
#include <string_view>

namespace platform {

class URL {
public:
    // Parses an absolute URL, or a relative reference (which has no scheme and no
    // host of its own). Nothing for text that is neither, such as the empty text.
    static std::optional<URL> parse(std::string_view text);

    // The URL in the form it is requested in; the text as given for a relative reference.
    const std::string& absoluteString() const { return absoluteString_; }
    // The host as the parser reports it (not case-folded); nothing when there is none.
    const std::optional<std::string>& host() const { return host_; }
    bool isRelative() const { return relative_; }

private:
    std::string absoluteString_;
    std::optional<std::string> host_;
    bool relative_ = false;
};

}  // namespace platform
