#include "platform/uikit/UIPasteboard.h"

namespace vesk::platform {

UIPasteboard& UIPasteboard::generalPasteboard()
{
    static UIPasteboard pasteboard;
    return pasteboard;
}

std::optional<std::string> UIPasteboard::string() const
{
    std::lock_guard lock(m_mutex);
    return m_string;
}

void UIPasteboard::setString(std::optional<std::string> text)
{
    std::lock_guard lock(m_mutex);
    m_string = std::move(text);
    ++m_changeCount;
}

std::int64_t UIPasteboard::changeCount() const
{
    std::lock_guard lock(m_mutex);
    return m_changeCount;
}

}
