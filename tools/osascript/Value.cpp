#include "tools/osascript/Value.hpp"

#include <glib.h>

#include <cmath>
#include <cstdio>

namespace vesko::osascript {

Value Value::fromJson(const nlohmann::json& json) {
    switch (json.type()) {
    case nlohmann::json::value_t::string: return fromText(json.get<std::string>());
    case nlohmann::json::value_t::boolean: return fromBool(json.get<bool>());
    case nlohmann::json::value_t::number_integer:
    case nlohmann::json::value_t::number_unsigned: {
        double d = json.get<double>();
        if (std::fabs(d) <= 536870911.0) return fromInt(json.get<long long>());
        return fromReal(d);
    }
    case nlohmann::json::value_t::number_float: {
        double d = json.get<double>();
        if (std::floor(d) == d && std::fabs(d) <= 536870911.0) return fromInt(static_cast<long long>(d));
        return fromReal(d);
    }
    case nlohmann::json::value_t::array: {
        std::vector<Value> items;
        for (const auto& item : json) items.push_back(fromJson(item));
        return fromList(std::move(items));
    }
    case nlohmann::json::value_t::object: {
        Value v = make(Kind::Record);
        v.record = json;
        return v;
    }
    default: return nothing();
    }
}

std::string formatReal(double value) {
    if (std::isnan(value)) return "NaN";
    if (std::isinf(value)) return value > 0 ? "Infinity" : "-Infinity";
    char buffer[64];
    if (std::fabs(value) >= 1e15 || (value != 0 && std::fabs(value) < 1e-4)) {
        std::snprintf(buffer, sizeof buffer, "%.15G", value);
        std::string text = buffer;
        // 1E+20 -> 1.0E+20, as AppleScript writes it
        auto e = text.find('E');
        if (e != std::string::npos && text.find('.') == std::string::npos) text.insert(e, ".0");
        return text;
    }
    std::snprintf(buffer, sizeof buffer, "%.15g", value);
    std::string text = buffer;
    if (text.find_first_of(".e") == std::string::npos) text += ".0";
    return text;
}

namespace {

std::string quoted(const std::string& text) {
    std::string out = "\"";
    for (char c : text) {
        if (c == '"' || c == '\\') out += '\\';
        out += c;
    }
    return out + "\"";
}

std::string recordText(const nlohmann::json& record, const std::string& application) {
    std::string out;
    bool first = true;
    for (auto it = record.begin(); it != record.end(); ++it) {
        if (!first) out += ", ";
        first = false;
        out += it.key() + ":";
        Value item = Value::fromJson(it.value());
        out += item.kind == Value::Kind::Nothing ? "missing value" : sourceForm(item, application);
    }
    return out;
}

}  // namespace

std::string sourceForm(const Value& value, const std::string& application) {
    using Kind = Value::Kind;
    switch (value.kind) {
    case Kind::Nothing: return "";
    case Kind::Missing: return "missing value";
    case Kind::Boolean: return value.boolean ? "true" : "false";
    case Kind::Integer: return std::to_string(value.integer);
    case Kind::Real: return formatReal(value.real);
    case Kind::Text: return quoted(value.text);
    case Kind::List: {
        std::string out = "{";
        for (std::size_t i = 0; i < value.list->size(); ++i) {
            if (i) out += ", ";
            out += sourceForm((*value.list)[i], application);
        }
        return out + "}";
    }
    case Kind::Record: return "{" + recordText(value.record, application) + "}";
    case Kind::Application: return "application " + quoted(value.text);
    case Kind::Window: return "window " + std::to_string(value.window + 1) + " of application " + quoted(application);
    case Kind::Tab:
        return "tab " + std::to_string(value.tab + 1) + " of window " + std::to_string(value.window + 1) +
               " of application " + quoted(application);
    }
    return "";
}

std::string display(const Value& value, const std::string& application) {
    using Kind = Value::Kind;
    switch (value.kind) {
    case Kind::Text: return value.text;
    case Kind::List: {
        std::string out;
        for (std::size_t i = 0; i < value.list->size(); ++i) {
            if (i) out += ", ";
            const Value& item = (*value.list)[i];
            out += item.kind == Kind::List || item.kind == Kind::Record ? sourceForm(item, application)
                                                                       : display(item, application);
        }
        return out;
    }
    case Kind::Record: return recordText(value.record, application);
    default: return sourceForm(value, application);
    }
}

std::string foldCase(const std::string& text) {
    bool ascii = true;
    for (unsigned char c : text)
        if (c >= 0x80) ascii = false;
    if (ascii || !g_utf8_validate(text.data(), static_cast<gssize>(text.size()), nullptr)) {
        std::string out = text;
        for (char& c : out)
            if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
        return out;
    }
    gchar* folded = g_utf8_casefold(text.data(), static_cast<gssize>(text.size()));
    std::string out = folded;
    g_free(folded);
    return out;
}

}  // namespace vesko::osascript
