#include "platform/foundation/NSDateFormatter.h"

#include <cmath>
#include <ctime>

namespace vesk::platform {

std::string NSDateFormatter::stringFromDate(const Date& date) const
{
    double seconds = std::floor(date.timeIntervalSince1970);
    if (!std::isfinite(seconds) || std::fabs(seconds) > 1e15)
        return {};
    auto time = static_cast<std::time_t>(seconds);
    std::tm parts {};
    if (!localtime_r(&time, &parts))
        return {};
    std::string format;
    if (m_dateStyle == NSDateFormatterStyle::Medium)
        format = "%b %-d, %Y";
    if (m_timeStyle == NSDateFormatterStyle::Medium)
        format += format.empty() ? "%-I:%M:%S %p" : ", %-I:%M:%S %p";
    if (format.empty())
        return {};
    char buffer[128];
    auto length = std::strftime(buffer, sizeof buffer, format.c_str(), &parts);
    return std::string(buffer, length);
}

}
