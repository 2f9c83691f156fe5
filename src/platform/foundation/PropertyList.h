#pragma once

#include "platform/foundation/Value.h"

#include <optional>
#include <string>

namespace vesk::platform {

enum class PropertyListFormat {
    XML = 100,
    Binary = 200,
};

// True when the value holds nothing a property list cannot: null, or text that
// is not UTF-8 or holds a NUL.
bool propertyListIsValid(const Value& value);

// Reads an XML or binary property list (detected from the bytes). Absent when
// the bytes are not a property list. `format` receives the detected format.
std::optional<Value> propertyListFromData(const Bytes& data, PropertyListFormat* format = nullptr);

// Writes a property list; absent when the value is not valid by the rule above.
std::optional<Bytes> dataFromPropertyList(const Value& value, PropertyListFormat format);

// The XML form as text; absent as above.
std::optional<std::string> xmlPropertyListString(const Value& value);

// Reads a property-list file of at most `maxBytes` bytes; absent when missing, too large or not a property list.
std::optional<Value> propertyListFromFile(const std::string& path, std::size_t maxBytes = 64u << 20);

} // namespace vesk::platform
