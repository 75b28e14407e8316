#include "extension/platform/Value.hpp"

#include "extension/platform/JsonValue.hpp"

namespace extension::platform {

namespace {

int hexDigit(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

}  // namespace

std::optional<Uuid> Uuid::fromString(std::string_view text) {
    if (text.size() != 36) return std::nullopt;
    std::array<std::uint8_t, 16> bytes{};
    std::size_t byte = 0;
    for (std::size_t i = 0; i < text.size();) {
        if (i == 8 || i == 13 || i == 18 || i == 23) {
            if (text[i] != '-') return std::nullopt;
            ++i;
            continue;
        }
        int high = hexDigit(text[i]);
        int low = hexDigit(text[i + 1]);
        if (high < 0 || low < 0) return std::nullopt;
        bytes[byte++] = static_cast<std::uint8_t>(high << 4 | low);
        i += 2;
    }
    return Uuid(bytes);
}

std::string Uuid::uuidString() const {
    static constexpr char digits[] = "0123456789ABCDEF";
    std::string out;
    out.reserve(36);
    for (std::size_t i = 0; i < bytes_.size(); ++i) {
        if (i == 4 || i == 6 || i == 8 || i == 10) out.push_back('-');
        out.push_back(digits[bytes_[i] >> 4]);
        out.push_back(digits[bytes_[i] & 0x0F]);
    }
    return out;
}

std::string Value::description() const {
    if (const auto* s = getIf<std::string>()) return *s;
    if (const auto* u = getIf<Uuid>()) return u->uuidString();
    if (isNull()) return "<null>";
    return jsonFromValue(*this).dump(-1, ' ', false, nlohmann::json::error_handler_t::replace);
}

Value valueFromJson(nlohmann::json&& json) {
    using Type = nlohmann::json::value_t;
    switch (json.type()) {
    case Type::null:
    case Type::discarded:
        return Value();
    case Type::boolean:
        return Value(json.get<bool>());
    case Type::number_integer:
        return Value(json.get<std::int64_t>());
    case Type::number_unsigned:
        return Value(json.get<std::uint64_t>());
    case Type::number_float:
        return Value(json.get<double>());
    case Type::string:
        return Value(std::move(json.get_ref<std::string&>()));
    case Type::binary:
        return Value();
    case Type::array: {
        auto& items = json.get_ref<nlohmann::json::array_t&>();
        Array out;
        out.reserve(items.size());
        for (auto& item : items) {
            out.push_back(valueFromJson(std::move(item)));
            item = nullptr;
        }
        json = nullptr;
        return Value(std::move(out));
    }
    case Type::object: {
        auto& members = json.get_ref<nlohmann::json::object_t&>();
        Dictionary out;
        for (auto it = members.begin(); it != members.end();) {
            out.emplace(it->first, valueFromJson(std::move(it->second)));
            it = members.erase(it);
        }
        return Value(std::move(out));
    }
    }
    return Value();
}

nlohmann::json jsonFromValue(const Value& value) {
    struct Visitor {
        nlohmann::json operator()(Value::Null) const { return nullptr; }
        nlohmann::json operator()(bool b) const { return b; }
        nlohmann::json operator()(std::int64_t i) const { return i; }
        nlohmann::json operator()(std::uint64_t u) const { return u; }
        nlohmann::json operator()(double d) const { return d; }
        nlohmann::json operator()(const std::string& s) const { return s; }
        nlohmann::json operator()(const Uuid& u) const { return u.uuidString(); }
        nlohmann::json operator()(const Array& a) const {
            nlohmann::json out = nlohmann::json::array();
            out.get_ref<nlohmann::json::array_t&>().reserve(a.size());
            for (const auto& item : a) out.push_back(jsonFromValue(item));
            return out;
        }
        nlohmann::json operator()(const Dictionary& d) const {
            nlohmann::json out = nlohmann::json::object();
            for (const auto& [key, item] : d) out.emplace(key, jsonFromValue(item));
            return out;
        }
    };
    return std::visit(Visitor{}, value.storage());
}

}  // namespace extension::platform
