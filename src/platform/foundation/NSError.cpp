#include "platform/foundation/NSError.h"

#include <cstring>

namespace vesk::platform {

std::string NSError::systemErrorText(int code)
{
    char buffer[256];
    // The GNU strerror_r may answer with a static text instead of filling the buffer.
    const char* text = strerror_r(code, buffer, sizeof buffer);
    return std::string("Error: ") + text;
}

NSError NSError::posix(int code, std::string_view path)
{
    return NSError { std::string(NSPOSIXErrorDomain), code, systemErrorText(code), std::string(path) };
}

}
