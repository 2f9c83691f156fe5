#include "platform/foundation/NSNumberFormatter.h"

#include <algorithm>
#include <cmath>
#include <cstdio>

namespace vesk::platform {

void NSNumberFormatter::setMinimumFractionDigits(int digits)
{
    m_minimumFractionDigits = std::clamp(digits, 0, 20);
    m_maximumFractionDigits = std::max(m_maximumFractionDigits, m_minimumFractionDigits);
}

void NSNumberFormatter::setMaximumFractionDigits(int digits)
{
    m_maximumFractionDigits = std::clamp(digits, 0, 20);
    m_minimumFractionDigits = std::min(m_minimumFractionDigits, m_maximumFractionDigits);
}

std::string NSNumberFormatter::stringFromNumber(double number) const
{
    if (std::isnan(number))
        return "NaN";
    if (std::isinf(number))
        return number < 0 ? "-∞" : "∞";
    char buffer[400];
    std::snprintf(buffer, sizeof buffer, "%.*f", m_maximumFractionDigits, number);
    std::string text(buffer);
    if (auto point = text.find('.'); point != std::string::npos) {
        auto keep = point + 1 + static_cast<std::size_t>(m_minimumFractionDigits);
        while (text.size() > keep && text.back() == '0')
            text.pop_back();
        if (text.back() == '.')
            text.pop_back();
    }
    if (text == "-0")
        text = "0";
    return text;
}

}
