#pragma once
// Decoding of the request objects the page posts to the "vesko" handler.
//
// A request is an object with a string `action`, an optional string
// `callbackId` and the arguments of its action. Arguments are read by four
// rules (text, optional text, integer, text map); a missing value or a value
// of another type takes the argument's default. A body that is not an
// object, has no string action, names no known action (exact, case-sensitive)
// or is a "navigate" without a string page decodes to nothing. So does a
// request whose callback id holds anything but ASCII letters, digits, "_" and
// "-": the id goes into reply scripts as it is, and no id may break them.

#include <nlohmann/json.hpp>

#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <variant>

namespace vesko::bridge {

using TextMap = std::map<std::string, std::string>;

struct Navigate { std::string page; std::optional<std::string> navAction; };
// "extract-tab", "extract-tab-by-url" and "extract-tab-by-index": which tab to extract.
struct ExtractTab { std::optional<std::int64_t> tabIndex; std::optional<std::string> targetUrl; };
struct GetTabUrls {};
struct ExtractAllTabs {};
struct ProxyFetch { std::string url; std::string method; TextMap headers; std::optional<std::string> body; };
struct SaveFile { std::string base64; std::string filename; };
struct SaveFixture { std::string json; std::string filename; };
struct NotifyComplete { std::string badge; };

using Action = std::variant<Navigate, ExtractTab, GetTabUrls, ExtractAllTabs, ProxyFetch, SaveFile,
                            SaveFixture, NotifyComplete>;

struct Request {
    std::string callbackId;
    Action action;
};

std::optional<Request> decodeRequest(const nlohmann::json& body);

// True when `id` holds only ASCII letters, digits, "_" and "-" (or nothing).
bool isSafeCallbackId(std::string_view id);

// True for the actions whose work runs on the main queue and that send no reply.
bool runsOnMainQueue(const Action& action);

// The four reading rules.
std::string readText(const nlohmann::json& object, const char* key, const std::string& fallback);
std::optional<std::string> readOptionalText(const nlohmann::json& object, const char* key);
std::int64_t readInteger(const nlohmann::json& object, const char* key);
TextMap readTextMap(const nlohmann::json& object, const char* key);

}  // namespace vesko::bridge
