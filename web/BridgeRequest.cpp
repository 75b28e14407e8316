#include "web/BridgeRequest.hpp"

#include <algorithm>
#include <cmath>
#include <string_view>

namespace vesko::bridge {
namespace {

const nlohmann::json* member(const nlohmann::json& object, const char* key) {
    auto it = object.find(key);
    return it == object.end() ? nullptr : &*it;
}

}  // namespace

std::string readText(const nlohmann::json& object, const char* key, const std::string& fallback) {
    const auto* value = member(object, key);
    return value && value->is_string() ? value->get<std::string>() : fallback;
}

std::optional<std::string> readOptionalText(const nlohmann::json& object, const char* key) {
    const auto* value = member(object, key);
    if (value && value->is_string()) return value->get<std::string>();
    return std::nullopt;
}

std::int64_t readInteger(const nlohmann::json& object, const char* key) {
    const auto* value = member(object, key);
    if (!value) return 0;
    if (value->is_number_integer() && !value->is_number_unsigned()) return value->get<std::int64_t>();
    if (value->is_number_unsigned()) {
        auto u = value->get<std::uint64_t>();
        return u <= static_cast<std::uint64_t>(INT64_MAX) ? static_cast<std::int64_t>(u) : 0;
    }
    if (value->is_number_float()) {
        // JavaScript has one number type: 3.0 is the integer 3, 2.5 is no integer.
        const double d = value->get<double>();
        constexpr double kLimit = 9223372036854775808.0;  // 2^63
        if (std::isfinite(d) && std::trunc(d) == d && d >= -kLimit && d < kLimit)
            return static_cast<std::int64_t>(d);
    }
    return 0;  // booleans, strings and everything else
}

TextMap readTextMap(const nlohmann::json& object, const char* key) {
    const auto* value = member(object, key);
    TextMap map;
    if (!value || !value->is_object()) return map;
    for (auto it = value->begin(); it != value->end(); ++it) {
        if (!it.value().is_string()) return {};
        map.emplace(it.key(), it.value().get<std::string>());
    }
    return map;
}

std::optional<Request> decodeRequest(const nlohmann::json& body) {
    if (!body.is_object() || body.empty()) return std::nullopt;
    const auto* actionValue = member(body, "action");
    if (!actionValue || !actionValue->is_string()) return std::nullopt;
    const std::string& action = actionValue->get_ref<const std::string&>();

    Request request{readText(body, "callbackId", ""), GetTabUrls{}};
    if (!isSafeCallbackId(request.callbackId)) return std::nullopt;
    if (action == "navigate") {
        auto page = readOptionalText(body, "page");
        if (!page) return std::nullopt;
        request.action = Navigate{std::move(*page), readOptionalText(body, "navAction")};
    } else if (action == "extract-tab") {
        request.action = ExtractTab{};
    } else if (action == "extract-tab-by-url") {
        request.action = ExtractTab{std::nullopt, readText(body, "url", "")};
    } else if (action == "extract-tab-by-index") {
        request.action = ExtractTab{readInteger(body, "tabIndex"), std::nullopt};
    } else if (action == "get-tab-urls") {
        request.action = GetTabUrls{};
    } else if (action == "extract-all-tabs") {
        request.action = ExtractAllTabs{};
    } else if (action == "proxy-fetch") {
        request.action = ProxyFetch{readText(body, "url", ""), readText(body, "method", "GET"),
                                    readTextMap(body, "headers"), readOptionalText(body, "body")};
    } else if (action == "save-file") {
        request.action = SaveFile{readText(body, "base64", ""), readText(body, "filename", "download")};
    } else if (action == "save-fixture") {
        request.action =
            SaveFixture{readText(body, "json", ""), readText(body, "filename", "fixture.json.gz")};
    } else if (action == "notify-complete") {
        request.action = NotifyComplete{readText(body, "badge", "")};
    } else {
        return std::nullopt;
    }
    return request;
}

bool isSafeCallbackId(std::string_view id) {
    return std::all_of(id.begin(), id.end(), [](char c) {
        return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '_' || c == '-';
    });
}

bool runsOnMainQueue(const Action& action) {
    return std::holds_alternative<Navigate>(action) || std::holds_alternative<NotifyComplete>(action);
}

}  // namespace vesko::bridge
