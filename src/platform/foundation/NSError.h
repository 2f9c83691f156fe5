#pragma once

#include <string>
#include <string_view>

namespace vesk::platform {

inline constexpr std::string_view NSPOSIXErrorDomain = "NSPOSIXErrorDomain";

// A failed call's record: the domain, the errno value as code, and a readable text.
struct NSError {
    std::string domain;
    int code = 0;
    std::string localizedDescription;
    std::string path; // the item the failing call was about, when there is one

    // "Error: " followed by the system's text for the errno value.
    static std::string systemErrorText(int code);
    static NSError posix(int code, std::string_view path = {});
};

}
