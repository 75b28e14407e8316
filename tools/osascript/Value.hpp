#pragma once
// Run-time values of the interpreter: AppleScript's simple types, lists (shared
// and mutable, as in AppleScript), records, and references to the application's
// windows and tabs.

#include <nlohmann/json.hpp>

#include <memory>
#include <string>
#include <vector>

namespace vesko::osascript {

struct Value;
using ListPtr = std::shared_ptr<std::vector<Value>>;

struct Value {
    enum class Kind {
        Nothing,      // no result (a command that returned nothing)
        Missing,      // missing value
        Boolean,
        Integer,
        Real,
        Text,
        List,
        Record,       // from a JavaScript object; `record` holds it
        Application,  // `text` holds the name
        Window,       // `window` is the 0-based position, front first
        Tab,          // `window` and `tab`, 0-based
    };

    Kind kind = Kind::Nothing;
    bool boolean = false;
    long long integer = 0;
    double real = 0;
    std::string text;
    ListPtr list;
    nlohmann::json record;
    std::size_t window = 0;
    std::size_t tab = 0;

    static Value nothing() { return {}; }
    static Value missing() { return make(Kind::Missing); }
    static Value fromBool(bool b) {
        Value v = make(Kind::Boolean);
        v.boolean = b;
        return v;
    }
    static Value fromInt(long long i) {
        Value v = make(Kind::Integer);
        v.integer = i;
        return v;
    }
    static Value fromReal(double d) {
        Value v = make(Kind::Real);
        v.real = d;
        return v;
    }
    static Value fromText(std::string t) {
        Value v = make(Kind::Text);
        v.text = std::move(t);
        return v;
    }
    static Value fromList(std::vector<Value> items = {}) {
        Value v = make(Kind::List);
        v.list = std::make_shared<std::vector<Value>>(std::move(items));
        return v;
    }
    static Value application(std::string name) {
        Value v = make(Kind::Application);
        v.text = std::move(name);
        return v;
    }
    static Value windowRef(std::size_t w) {
        Value v = make(Kind::Window);
        v.window = w;
        return v;
    }
    static Value tabRef(std::size_t w, std::size_t t) {
        Value v = make(Kind::Tab);
        v.window = w;
        v.tab = t;
        return v;
    }
    // A JavaScript value as Safari hands it to AppleScript: strings, numbers,
    // booleans, arrays as lists, objects as records; null as nothing.
    static Value fromJson(const nlohmann::json& json);

    bool isNumber() const { return kind == Kind::Integer || kind == Kind::Real; }
    double number() const { return kind == Kind::Integer ? static_cast<double>(integer) : real; }

  private:
    static Value make(Kind kind) {
        Value v;
        v.kind = kind;
        return v;
    }
};

// How osascript prints a result: text as it is, lists as "a, b", numbers and
// booleans in AppleScript's notation, references in their source form.
std::string display(const Value& value, const std::string& application = "Safari");

// AppleScript's source form of a value, used in error messages ("{1, \"a\"}").
std::string sourceForm(const Value& value, const std::string& application = "Safari");

// Number to text as AppleScript writes it (3, 2.5, 1.0E+20).
std::string formatReal(double value);

// Case-insensitive comparison helpers (AppleScript compares text ignoring case).
std::string foldCase(const std::string& text);

}  // namespace vesko::osascript
