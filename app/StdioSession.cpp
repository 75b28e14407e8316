#include "app/StdioSession.hpp"

#include "platform/Dispatch.hpp"
#include "platform/stdio/StdioWebView.hpp"
#include "web/ViewController.hpp"

#include <string>
#include <thread>

namespace vesko {

int runStdioSession(std::istream& in, std::ostream& out, const std::filesystem::path& resourceFolder) {
    auto webView = std::make_shared<platform::StdioWebView>(out);
    auto controller = std::make_shared<ViewController>(resourceFolder);
    controller->webView = webView;
    controller->viewDidLoad();

    // Lines are read on their own thread and handed to the main queue in
    // order, as messages arrive from a page: one at a time, on the main thread.
    // The reader thread must not flush `out` (std::cin is tied to std::cout):
    // only the main thread writes to it.
    in.tie(nullptr);
    bool inputEnded = false;
    std::thread reader([&in, &inputEnded, webView] {
        std::string line;
        while (std::getline(in, line)) {
            platform::dispatch::mainAsync([webView, line = std::move(line)] {
                auto body = nlohmann::json::parse(line, nullptr, /*allow_exceptions=*/false);
                if (!body.is_discarded()) webView->post("vesko", body);
            });
        }
        platform::dispatch::mainAsync([&inputEnded] { inputEnded = true; });
    });

    platform::dispatch::runMainUntil([&] {
        return inputEnded && controller->requestsInFlight() == 0 && platform::dispatch::mainQueueIdle();
    });
    reader.join();
    return 0;
}

}  // namespace vesko
