// The mapping between page addresses and files: plain functions, without the
// web engine, so they can be checked on their own.
#include "platform/gtk/PageScheme.hpp"

#include <glib.h>

#include <memory>
#include <string_view>

namespace platform::gtk {
namespace {

namespace fs = std::filesystem;

constexpr std::string_view kPagePrefix = "vesko://app/";

using GText = std::unique_ptr<char, void (*)(gpointer)>;

}  // namespace

bool isInsideFolder(const fs::path& path, const fs::path& folder) {
    if (folder.empty()) return false;
    auto rel = path.lexically_normal().lexically_relative(folder.lexically_normal());
    return !rel.empty() && *rel.begin() != ".." && !rel.is_absolute();
}

std::string pageURI(const fs::path& file, const fs::path& folder) {
    const fs::path normal = file.lexically_normal();
    if (!isInsideFolder(normal, folder)) return "";
    const std::string rel = normal.lexically_relative(folder.lexically_normal()).generic_string();
    GText escaped(g_uri_escape_string(rel.c_str(), G_URI_RESERVED_CHARS_ALLOWED_IN_PATH, FALSE), g_free);
    return std::string(kPagePrefix) + escaped.get();
}

std::optional<fs::path> pagePath(const char* uri, const fs::path& folder) {
    if (!uri || !g_str_has_prefix(uri, kPagePrefix.data())) return std::nullopt;
    std::string_view rest(uri + kPagePrefix.size());
    rest = rest.substr(0, rest.find_first_of("?#"));
    // An escaped "/" or NUL makes the address no page at all.
    GText decoded(g_uri_unescape_segment(rest.data(), rest.data() + rest.size(), "/"), g_free);
    if (!decoded) return std::nullopt;
    const fs::path path = (folder / decoded.get()).lexically_normal();
    if (!isInsideFolder(path, folder)) return std::nullopt;
    return path;
}

}  // namespace platform::gtk
