#pragma once

#include <string>

namespace vesk::platform {

// Numbers as plain decimal text (no grouping), rounded half to even to at most the maximum
// fraction digits and padded to at least the minimum.
class NSNumberFormatter {
public:
    int minimumFractionDigits() const { return m_minimumFractionDigits; }
    void setMinimumFractionDigits(int digits);
    int maximumFractionDigits() const { return m_maximumFractionDigits; }
    void setMaximumFractionDigits(int digits);

    std::string stringFromNumber(double number) const;

private:
    int m_minimumFractionDigits = 0;
    int m_maximumFractionDigits = 0;
};

}
