#pragma once

#include <cstdint>
#include <mutex>
#include <optional>
#include <string>

namespace vesk::platform {

// The general pasteboard, kept in the process. Any thread.
class UIPasteboard {
public:
    static UIPasteboard& generalPasteboard();

    std::optional<std::string> string() const;
    // None empties it.
    void setString(std::optional<std::string> text);
    // Grows with every change.
    std::int64_t changeCount() const;

private:
    UIPasteboard() = default;
    mutable std::mutex m_mutex;
    std::optional<std::string> m_string;
    std::int64_t m_changeCount = 0;
};

}
