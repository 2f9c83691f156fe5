#pragma once

#include <mutex>
#include <utility>

namespace vesk::platform {

// A function that tests put in place of a machine fact; empty means the machine's own.
// Set and read under a lock, so a test may swap it while other threads ask.
template<typename Function>
class InjectedSource {
public:
    void set(Function function)
    {
        std::lock_guard lock(m_mutex);
        m_function = std::move(function);
    }

    Function get() const
    {
        std::lock_guard lock(m_mutex);
        return m_function;
    }

private:
    mutable std::mutex m_mutex;
    Function m_function;
};

}
