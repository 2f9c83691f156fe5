#pragma once

#include "platform/foundation/Value.h"

#include <string>

namespace vesk::platform {

enum class NSDateFormatterStyle {
    None,
    Medium,
};

// Dates as text in the local time zone, in English: the medium date "Jan 5, 2024" and the
// medium time "3:04:05 PM", joined by ", " when both are asked for.
class NSDateFormatter {
public:
    NSDateFormatterStyle dateStyle() const { return m_dateStyle; }
    void setDateStyle(NSDateFormatterStyle style) { m_dateStyle = style; }
    NSDateFormatterStyle timeStyle() const { return m_timeStyle; }
    void setTimeStyle(NSDateFormatterStyle style) { m_timeStyle = style; }

    // Empty when both styles are None or the date is out of the calendar's range.
    std::string stringFromDate(const Date& date) const;

private:
    NSDateFormatterStyle m_dateStyle = NSDateFormatterStyle::None;
    NSDateFormatterStyle m_timeStyle = NSDateFormatterStyle::None;
};

}
