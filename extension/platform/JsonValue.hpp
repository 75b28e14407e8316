#pragma once
// Conversion between user-info values and JSON, the form messages take on
// the native-messaging channel.

#include <nlohmann/json.hpp>

#include "extension/platform/Value.hpp"

namespace extension::platform {

// Every JSON value has a user-info counterpart. The JSON value is consumed:
// its containers are released while the conversion goes on, so a large
// message is never held twice in full.
Value valueFromJson(nlohmann::json&& json);

// A UUID becomes its standard string; everything else maps one to one.
nlohmann::json jsonFromValue(const Value& value);

}  // namespace extension::platform
