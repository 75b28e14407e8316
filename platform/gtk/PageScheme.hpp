#pragma once
// How the web view serves the application's pages: through an address scheme
// of its own, vesko://app/<path inside the read-access folder>, answered only
// from that folder. A page can load the other files of the folder (its
// scripts, styles and the other pages) and nothing else of the disk; the
// scheme counts as secure and CORS-enabled, so ES modules load, and local
// storage and IndexedDB persist under the origin vesko://app.

#include <filesystem>
#include <functional>
#include <optional>
#include <string>

typedef struct _WebKitWebView WebKitWebView;

namespace platform::gtk {

inline constexpr const char* kPageOrigin = "vesko://app";

// True when `path` lies inside `folder` (lexically).
bool isInsideFolder(const std::filesystem::path& path, const std::filesystem::path& folder);

// The address of `file` inside `folder`, or "" when it lies outside.
std::string pageURI(const std::filesystem::path& file, const std::filesystem::path& folder);

// The file inside `folder` that a page address names (lexically: nothing is
// looked up on disk), or nothing for any other address and for paths that
// leave the folder.
std::optional<std::filesystem::path> pagePath(const char* uri, const std::filesystem::path& folder);

// Registers the scheme with the default web context, once per process.
// `folderOf` gives the folder a web view's pages come from (nothing refuses
// every request of that view).
void installPageScheme(std::function<std::optional<std::filesystem::path>(WebKitWebView*)> folderOf);

// Pages used to be loaded from file:// addresses, whose local storage and
// IndexedDB belong to the origin of local files. Before the first page load
// of a process, copies what is stored for that origin to the page origin,
// when the page origin has nothing of that kind yet. The old data stays
// where it is.
void carryStoredDataFromFileOrigin();

}  // namespace platform::gtk
