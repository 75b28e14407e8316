// Addresses from pages and from the browser's tabs: proxy addresses and their
// host check, the addresses allowed to leave the window, and page addresses
// mapped to files, which never lead out of the resource folder.
#include "net/Proxy.hpp"
#include "platform/URL.hpp"
#include "platform/WebView.hpp"
#include "platform/gtk/PageScheme.hpp"

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
    const std::string text(reinterpret_cast<const char*>(data), size);

    static const vesko::net::HostSet hosts{"api.example.test", "service.example.test"};
    const auto checked = vesko::net::checkProxyURL(text, hosts);
    if (checked.verdict == vesko::net::URLVerdict::Allowed) {
        check(hosts.count(checked.host) == 1);
        // What is requested is what was checked.
        const auto again = platform::URL::parse(checked.url);
        check(again && again->host() == checked.host);
    }

    if (platform::opensInDefaultHandler(text)) {
        const std::string scheme = text.substr(0, text.find(':'));
        check(scheme.size() == 4 || scheme.size() == 5 || scheme.size() == 6);
    }

    if (text.find('\0') != std::string::npos) return 0;  // addresses are C strings to the engine
    const std::filesystem::path folder = "/opt/vesko/resources";
    if (const auto file = platform::gtk::pagePath(text.c_str(), folder)) {
        check(platform::gtk::isInsideFolder(*file, folder));
        // The file's own address names it again.
        check(platform::gtk::pagePath(platform::gtk::pageURI(*file, folder).c_str(), folder) == file);
    }
    return 0;
}
