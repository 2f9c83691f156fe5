#include "sdk/Analytics.h"

#include "platform/foundation/AppHome.h"
#include "platform/foundation/JSON.h"
#include "platform/foundation/NSString.h"

#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <fcntl.h>
#include <fstream>
#include <mutex>
#include <sys/stat.h>
#include <unistd.h>

namespace vesk {

using platform::Dictionary;
using platform::Value;

namespace {

    constexpr std::uint64_t defaultMaximumLogSize = 1024 * 1024;
    std::atomic<std::uint64_t> maximumSize { defaultMaximumLogSize };

    // One writer at a time, so lines never interleave and a rotation never loses one.
    std::mutex& logLock()
    {
        static std::mutex lock;
        return lock;
    }

    std::string logFolder()
    {
        return platform::stringByAppendingPathComponent(platform::cachesDirectory(), "Analytics");
    }

    // Keeps texts, numbers and Bools; anything else becomes its description, so one odd value
    // never costs the whole event.
    Value plainAttribute(const Value& value)
    {
        if (value.isString() || value.isNumber() || value.isBool())
            return value;
        return Value(value.description());
    }

    bool appendLine(const std::string& path, const std::string& line)
    {
        int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0600);
        if (fd < 0)
            return false;
        std::size_t written = 0;
        while (written < line.size()) {
            auto result = ::write(fd, line.data() + written, line.size() - written);
            if (result < 0 && errno == EINTR)
                continue;
            if (result <= 0)
                break;
            written += static_cast<std::size_t>(result);
        }
        ::close(fd);
        return written == line.size();
    }

    void readLog(const std::string& path, std::vector<Analytics::Event>& events)
    {
        std::ifstream input(path);
        std::string line;
        while (std::getline(input, line)) {
            auto object = platform::JSONObjectWithData(line);
            if (!object || !object->isDictionary() || !(*object)["name"].isString())
                continue;
            Analytics::Event event;
            event.name = *(*object)["name"].string();
            if (auto* attributes = (*object)["attributes"].dictionary())
                event.attributes = *attributes;
            event.timestamp = (*object)["timestamp"].realValue().value_or(0);
            events.push_back(std::move(event));
        }
    }

}

std::string Analytics::eventLogPath()
{
    return platform::stringByAppendingPathComponent(logFolder(), "events.log");
}

std::string Analytics::previousEventLogPath()
{
    return platform::stringByAppendingPathComponent(logFolder(), "events.1.log");
}

void Analytics::logCustomEventWithName(const std::string& name, const Dictionary& attributes)
{
    Dictionary plain;
    for (auto& [key, value] : attributes)
        plain.set(key, plainAttribute(value));
    auto now = std::chrono::duration<double>(std::chrono::system_clock::now().time_since_epoch()).count();
    Dictionary event {
        { "type", Value("custom") },
        { "name", Value(name) },
        { "attributes", Value(std::move(plain)) },
        { "timestamp", Value(now) },
    };
    auto text = platform::dataWithJSONObject(Value(std::move(event)), { .prettyPrinted = false, .fragmentsAllowed = false, .escapeSlashes = false });
    if (!text)
        return;
    auto line = *text + "\n";

    std::lock_guard lock(logLock());
    auto folder = logFolder();
    ::mkdir(folder.c_str(), 0700);
    auto path = eventLogPath();
    struct stat info { };
    if (::stat(path.c_str(), &info) == 0 && static_cast<std::uint64_t>(info.st_size) + line.size() > maximumSize.load())
        std::rename(path.c_str(), previousEventLogPath().c_str());
    if (!appendLine(path, line))
        std::fprintf(stderr, "Analytics: could not record \"%s\" in %s\n", name.c_str(), path.c_str());
}

std::vector<Analytics::Event> Analytics::recordedEvents()
{
    std::lock_guard lock(logLock());
    std::vector<Event> events;
    readLog(previousEventLogPath(), events);
    readLog(eventLogPath(), events);
    return events;
}

std::uint64_t Analytics::maximumLogSize()
{
    return maximumSize.load();
}

void Analytics::setMaximumLogSize(std::uint64_t bytes)
{
    maximumSize.store(bytes ? bytes : defaultMaximumLogSize);
}

}
