#include "platform/gtk/PageScheme.hpp"

#include <webkit2/webkit2.h>

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <map>
#include <memory>
#include <string_view>

namespace platform::gtk {
namespace {

namespace fs = std::filesystem;

template <typename T>
using GPtr = std::unique_ptr<T, void (*)(gpointer)>;

const char* mimeTypeOf(const fs::path& file) {
    static const std::map<std::string, const char*> types = {
        {".html", "text/html"},        {".htm", "text/html"},         {".js", "text/javascript"},
        {".mjs", "text/javascript"},   {".css", "text/css"},          {".json", "application/json"},
        {".map", "application/json"},  {".svg", "image/svg+xml"},     {".png", "image/png"},
        {".jpg", "image/jpeg"},        {".jpeg", "image/jpeg"},       {".gif", "image/gif"},
        {".webp", "image/webp"},       {".ico", "image/x-icon"},      {".woff", "font/woff"},
        {".woff2", "font/woff2"},      {".ttf", "font/ttf"},          {".otf", "font/otf"},
        {".txt", "text/plain"},        {".wasm", "application/wasm"},
    };
    std::string extension = file.extension().string();
    std::transform(extension.begin(), extension.end(), extension.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    auto found = types.find(extension);
    return found == types.end() ? "application/octet-stream" : found->second;
}

std::function<std::optional<fs::path>(WebKitWebView*)>& folderLookup() {
    static std::function<std::optional<fs::path>(WebKitWebView*)> lookup;
    return lookup;
}

void refuse(WebKitURISchemeRequest* request) {
    GError* error = g_error_new_literal(G_IO_ERROR, G_IO_ERROR_NOT_FOUND, "Not found");
    webkit_uri_scheme_request_finish_error(request, error);
    g_error_free(error);
}

void serve(WebKitURISchemeRequest* request, gpointer) {
    WebKitWebView* view = webkit_uri_scheme_request_get_web_view(request);
    const auto folder = view && folderLookup() ? folderLookup()(view) : std::nullopt;
    auto file = folder ? pagePath(webkit_uri_scheme_request_get_uri(request), *folder) : std::nullopt;
    if (!file) return refuse(request);
    // Symbolic links may not lead out of the folder either.
    std::error_code fileError, folderError, sizeError;
    const fs::path real = fs::canonical(*file, fileError);
    const fs::path root = fs::canonical(*folder, folderError);
    if (fileError || folderError || !isInsideFolder(real, root) || !fs::is_regular_file(real, fileError))
        return refuse(request);
    const auto size = fs::file_size(real, sizeError);
    GPtr<GFile> gfile(g_file_new_for_path(real.c_str()), g_object_unref);
    GFileInputStream* stream = sizeError ? nullptr : g_file_read(gfile.get(), nullptr, nullptr);
    if (!stream) return refuse(request);
    webkit_uri_scheme_request_finish(request, G_INPUT_STREAM(stream), static_cast<gint64>(size), mimeTypeOf(real));
    g_object_unref(stream);
}

// ---- Carrying stored data over from the origin of local files ----
//
// WebKit keeps an origin's local storage in <local storage folder>/<id>.localstorage
// and its IndexedDB databases in <IndexedDB folder>/v1/<id>/, where <id> is
// scheme_host_port: file__0 for local files, vesko_app_0 for the pages. The
// files themselves do not name their origin, so a copy carries the data whole
// (values, keys, indexes, versions, stored blobs). Each copy takes its place
// in one rename once it is on disk, so a copy cut short is redone next time.

constexpr const char* kFileOriginId = "file__0";
constexpr const char* kPageOriginId = "vesko_app_0";

bool syncToDisk(const fs::path& file) {
    const int fd = ::open(file.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) return false;
    const bool synced = ::fsync(fd) == 0;
    ::close(fd);
    return synced;
}

bool copyFileSynced(const fs::path& from, const fs::path& to) {
    std::error_code error;
    return fs::copy_file(from, to, fs::copy_options::overwrite_existing, error) && syncToDisk(to);
}

bool isSharedMemoryIndex(const fs::path& file) {  // SQLite rebuilds it on open
    const std::string name = file.filename().string();
    return name.size() > 4 && name.compare(name.size() - 4, 4, "-shm") == 0;
}

bool copyTreeSynced(const fs::path& from, const fs::path& to) {
    std::error_code error;
    if (!fs::create_directories(to, error) && error) return false;
    for (const auto& entry : fs::directory_iterator(from, error)) {
        const fs::path target = to / entry.path().filename();
        if (entry.is_directory(error)) {
            if (!copyTreeSynced(entry.path(), target)) return false;
        } else if (entry.is_regular_file(error) && !isSharedMemoryIndex(entry.path())) {
            if (!copyFileSynced(entry.path(), target)) return false;
        }
    }
    return !error;
}

void carryLocalStorage(const fs::path& folder) {
    const fs::path from = folder / (std::string(kFileOriginId) + ".localstorage");
    const fs::path to = folder / (std::string(kPageOriginId) + ".localstorage");
    std::error_code error;
    if (!fs::is_regular_file(from, error) || fs::exists(to, error) || error) return;
    const fs::path partial = folder / (std::string(".") + kPageOriginId + ".localstorage.carrying");
    // A journal left by a copy cut short belongs to no database yet.
    fs::remove(to.string() + "-wal", error);
    fs::remove(to.string() + "-shm", error);
    if (fs::exists(from.string() + "-wal", error) && !copyFileSynced(from.string() + "-wal", to.string() + "-wal"))
        return;
    if (copyFileSynced(from, partial)) fs::rename(partial, to, error);
    fs::remove(partial, error);
}

void carryIndexedDB(const fs::path& folder) {
    const fs::path from = folder / "v1" / kFileOriginId;
    const fs::path to = folder / "v1" / kPageOriginId;
    std::error_code error;
    if (!fs::is_directory(from, error) || fs::exists(to, error) || error) return;
    const fs::path partial = folder / "v1" / (std::string(".") + kPageOriginId + ".carrying");
    fs::remove_all(partial, error);
    if (copyTreeSynced(from, partial)) fs::rename(partial, to, error);
    fs::remove_all(partial, error);
}

}  // namespace

void installPageScheme(std::function<std::optional<fs::path>(WebKitWebView*)> folderOf) {
    static bool installed = false;
    folderLookup() = std::move(folderOf);
    if (installed) return;
    installed = true;
    WebKitWebContext* context = webkit_web_context_get_default();
    webkit_web_context_register_uri_scheme(context, "vesko", &serve, nullptr, nullptr);
    WebKitSecurityManager* security = webkit_web_context_get_security_manager(context);
    webkit_security_manager_register_uri_scheme_as_secure(security, "vesko");
    webkit_security_manager_register_uri_scheme_as_cors_enabled(security, "vesko");
}

void carryStoredDataFromFileOrigin() {
    static bool carried = false;
    if (carried) return;
    carried = true;
    WebKitWebsiteDataManager* manager = webkit_web_context_get_website_data_manager(webkit_web_context_get_default());
    // The folders of the default context; only these getters name them.
    G_GNUC_BEGIN_IGNORE_DEPRECATIONS
    const char* localStorage = webkit_website_data_manager_get_local_storage_directory(manager);
    const char* indexedDB = webkit_website_data_manager_get_indexeddb_directory(manager);
    G_GNUC_END_IGNORE_DEPRECATIONS
    if (localStorage) carryLocalStorage(localStorage);
    if (indexedDB) carryIndexedDB(indexedDB);
}

}  // namespace platform::gtk
