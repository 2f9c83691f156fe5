#pragma once

#include "platform/foundation/Value.h"

#include <optional>
#include <string>
#include <string_view>

namespace vesk::platform {

struct JSONWritingOptions {
    // Two-space indent and " : " between key and value, as the platform writes.
    bool prettyPrinted { false };
    // Any value may stand at the top, not only an array or a dictionary.
    bool fragmentsAllowed { false };
    // "/" written as "\/", as the platform does.
    bool escapeSlashes { true };
};

// True for an array or dictionary (any value with `fragmentsAllowed`) holding only
// null, Bool, numbers (finite), strings, arrays and dictionaries.
bool isValidJSONObject(const Value& value, bool fragmentsAllowed = false);

// The JSON text; absent when the value is not valid JSON by the rule above.
// Invalid UTF-8 inside strings is replaced by U+FFFD.
std::optional<std::string> dataWithJSONObject(const Value& value, JSONWritingOptions options = {});

// Parses JSON text (any value at the top); absent when malformed. Integers that
// fit a signed 64-bit integer become integers, other numbers become reals.
std::optional<Value> JSONObjectWithData(std::string_view text);

} // namespace vesk::platform
