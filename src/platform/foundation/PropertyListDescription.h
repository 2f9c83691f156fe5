#pragma once

#include "platform/foundation/Value.h"

#include <string>

namespace vesk::platform {

// The text that printing a property-list object gives on the platform, in the old-style
// (OpenStep) form: dictionaries in braces with "key = value;" lines, arrays in parentheses,
// strings quoted unless they are plain words (characters beyond ASCII escaped), dictionary keys
// in ascending order, nested containers indented four spaces a level.
std::string oldStyleDescription(const Value& value);

}
