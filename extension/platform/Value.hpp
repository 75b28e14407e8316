#pragma once
// User-info values: what an extension item's dictionary can hold. A value is
// null, a boolean, a number, a string, a UUID, an array or a dictionary; the
// message of an extension request may be any of them.

#include <array>
#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

namespace extension::platform {

// A 128-bit universally unique identifier.
class Uuid {
public:
    Uuid() = default;
    explicit Uuid(const std::array<std::uint8_t, 16>& bytes) : bytes_(bytes) {}

    // Parses the standard 8-4-4-4-12 hexadecimal form (either case).
    static std::optional<Uuid> fromString(std::string_view text);

    // The standard form: 36 characters, upper-case hexadecimal digits.
    std::string uuidString() const;

    const std::array<std::uint8_t, 16>& bytes() const { return bytes_; }
    friend bool operator==(const Uuid&, const Uuid&) = default;

private:
    std::array<std::uint8_t, 16> bytes_{};
};

class Value;
using Array = std::vector<Value>;
using Dictionary = std::map<std::string, Value, std::less<>>;

class Value {
public:
    struct Null {
        friend bool operator==(Null, Null) { return true; }
    };
    using Storage = std::variant<Null, bool, std::int64_t, std::uint64_t, double, std::string,
                                 Uuid, Array, Dictionary>;

    Value() = default;
    Value(std::nullptr_t) {}
    Value(bool b) : storage_(b) {}
    Value(int i) : storage_(std::int64_t{i}) {}
    Value(std::int64_t i) : storage_(i) {}
    Value(std::uint64_t u) : storage_(u) {}
    Value(double d) : storage_(d) {}
    Value(const char* s) : storage_(std::string(s)) {}
    Value(std::string s) : storage_(std::move(s)) {}
    Value(Uuid u) : storage_(u) {}
    Value(Array a) : storage_(std::move(a)) {}
    Value(Dictionary d) : storage_(std::move(d)) {}

    bool isNull() const { return std::holds_alternative<Null>(storage_); }
    template <typename T>
    bool is() const { return std::holds_alternative<T>(storage_); }
    template <typename T>
    const T* getIf() const { return std::get_if<T>(&storage_); }
    template <typename T>
    T* getIf() { return std::get_if<T>(&storage_); }

    const Storage& storage() const { return storage_; }

    // The value's textual description, as the log shows it: a string as its
    // own text, a UUID in its standard form, null as "<null>", everything else
    // as compact JSON.
    std::string description() const;

    friend bool operator==(const Value&, const Value&) = default;

private:
    Storage storage_;
};

}  // namespace extension::platform
