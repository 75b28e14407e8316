#include "safari/Programs.hpp"

namespace vesko::safari {

// Placeholder until the extraction programs land.
std::string buildExtractionScript(const std::optional<std::int64_t>& tabIndex,
                                  const std::optional<std::string>& targetUrl) {
    if (targetUrl && !targetUrl->empty()) return "url:" + *targetUrl;
    if (tabIndex) return "tab:" + std::to_string(*tabIndex);
    return "current";
}

}  // namespace vesko::safari
