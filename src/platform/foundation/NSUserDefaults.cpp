#include "platform/foundation/NSUserDefaults.h"

#include "platform/foundation/AppHome.h"
#include "platform/foundation/FileData.h"
#include "platform/foundation/NSString.h"
#include "platform/foundation/PropertyList.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <sys/stat.h>

namespace vesk::platform {

namespace {

    constexpr std::size_t maxStoreBytes = 64u << 20;

    std::mutex sharedMutex;
    std::shared_ptr<NSUserDefaults> sharedDefaults;

    bool exists(const std::string& path)
    {
        struct stat info { };
        return ::lstat(path.c_str(), &info) == 0;
    }

    // Keeps an unreadable store beside the new one instead of overwriting it.
    void moveAside(const std::string& path)
    {
        std::string target = path + ".corrupt-" + std::to_string(std::time(nullptr));
        for (int attempt = 1; exists(target); ++attempt)
            target = path + ".corrupt-" + std::to_string(std::time(nullptr)) + "-" + std::to_string(attempt);
        if (std::rename(path.c_str(), target.c_str()) == 0)
            std::fprintf(stderr, "vesk: user defaults %s could not be read; kept as %s\n", path.c_str(), target.c_str());
        else
            std::fprintf(stderr, "vesk: user defaults %s could not be read or moved aside: %s\n", path.c_str(), std::strerror(errno));
    }

    bool textIsTrue(const std::string& text)
    {
        std::string lower;
        for (char c : text)
            lower += static_cast<char>(c >= 'A' && c <= 'Z' ? c - 'A' + 'a' : c);
        if (lower == "yes" || lower == "true")
            return true;
        return std::strtoll(text.c_str(), nullptr, 10) != 0;
    }

}

std::shared_ptr<NSUserDefaults> NSUserDefaults::standardUserDefaults()
{
    std::lock_guard lock(sharedMutex);
    if (!sharedDefaults)
        sharedDefaults = std::make_shared<NSUserDefaults>(stringByAppendingPathComponent(preferencesDirectory(), "vesk.plist"));
    return sharedDefaults;
}

void NSUserDefaults::resetStandardUserDefaults()
{
    std::lock_guard lock(sharedMutex);
    sharedDefaults.reset();
}

NSUserDefaults::NSUserDefaults(std::string path)
    : m_path(std::move(path))
{
    load();
}

void NSUserDefaults::load()
{
    std::lock_guard lock(m_mutex);
    m_values.clear();
    if (!exists(m_path))
        return;
    auto stored = propertyListFromFile(m_path, maxStoreBytes);
    if (stored && stored->dictionary()) {
        m_values = *stored->dictionary();
        return;
    }
    moveAside(m_path);
}

bool NSUserDefaults::persistLocked()
{
    auto data = dataFromPropertyList(Value(m_values), PropertyListFormat::Binary);
    if (!data)
        return false;
    // The folder may have been removed while the app ran; make it again once.
    if (!writeFileAtomically(m_path, *data) && !(createDirectories(stringByDeletingLastPathComponent(m_path)) && writeFileAtomically(m_path, *data))) {
        std::fprintf(stderr, "vesk: could not write user defaults to %s\n", m_path.c_str());
        return false;
    }
    return true;
}

std::optional<Value> NSUserDefaults::objectForKey(std::string_view key) const
{
    std::lock_guard lock(m_mutex);
    if (auto const* value = m_values.find(key))
        return *value;
    return std::nullopt;
}

std::optional<std::string> NSUserDefaults::stringForKey(std::string_view key) const
{
    auto value = objectForKey(key);
    if (!value)
        return std::nullopt;
    if (auto const* text = value->string())
        return *text;
    // Numbers read as their text, as the platform does.
    if (value->isNumber())
        return value->description();
    return std::nullopt;
}

std::optional<Bytes> NSUserDefaults::dataForKey(std::string_view key) const
{
    auto value = objectForKey(key);
    if (!value || !value->data())
        return std::nullopt;
    return *value->data();
}

std::optional<Array> NSUserDefaults::arrayForKey(std::string_view key) const
{
    auto value = objectForKey(key);
    if (!value || !value->array())
        return std::nullopt;
    return *value->array();
}

std::optional<Dictionary> NSUserDefaults::dictionaryForKey(std::string_view key) const
{
    auto value = objectForKey(key);
    if (!value || !value->dictionary())
        return std::nullopt;
    return *value->dictionary();
}

bool NSUserDefaults::boolForKey(std::string_view key) const
{
    auto value = objectForKey(key);
    if (!value)
        return false;
    if (auto flag = value->boolValue())
        return *flag;
    if (auto number = value->realValue())
        return *number != 0;
    if (auto const* text = value->string())
        return textIsTrue(*text);
    return false;
}

std::int64_t NSUserDefaults::integerForKey(std::string_view key) const
{
    auto value = objectForKey(key);
    if (!value)
        return 0;
    if (auto flag = value->boolValue())
        return *flag ? 1 : 0;
    if (auto number = value->integerValue())
        return *number;
    if (auto const* text = value->string())
        return std::strtoll(text->c_str(), nullptr, 10);
    return 0;
}

double NSUserDefaults::doubleForKey(std::string_view key) const
{
    auto value = objectForKey(key);
    if (!value)
        return 0;
    if (auto flag = value->boolValue())
        return *flag ? 1 : 0;
    if (auto number = value->realValue())
        return *number;
    if (auto const* text = value->string())
        return std::strtod(text->c_str(), nullptr);
    return 0;
}

void NSUserDefaults::setObject(const Value& value, std::string_view key)
{
    if (value.isNull()) {
        removeObjectForKey(key);
        return;
    }
    if (!propertyListIsValid(value)) {
        std::fprintf(stderr, "vesk: refused to store a value that is not a property list under %.*s\n", static_cast<int>(key.size()), key.data());
        return;
    }
    std::lock_guard lock(m_mutex);
    // The same value again leaves the file as it is: writing it flushes to disk, which a launch
    // would otherwise wait for before it serves (the quick action sets the server switch).
    struct stat status { };
    if (auto const* current = m_values.find(key); current && *current == value && ::stat(m_path.c_str(), &status) == 0)
        return;
    m_values.set(std::string(key), value);
    persistLocked();
}

void NSUserDefaults::setBool(bool value, std::string_view key)
{
    setObject(Value(value), key);
}

void NSUserDefaults::setInteger(std::int64_t value, std::string_view key)
{
    setObject(Value(static_cast<long long>(value)), key);
}

void NSUserDefaults::setDouble(double value, std::string_view key)
{
    setObject(Value(value), key);
}

void NSUserDefaults::removeObjectForKey(std::string_view key)
{
    std::lock_guard lock(m_mutex);
    if (m_values.erase(key))
        persistLocked();
}

Dictionary NSUserDefaults::dictionaryRepresentation() const
{
    std::lock_guard lock(m_mutex);
    return m_values;
}

bool NSUserDefaults::synchronize()
{
    std::lock_guard lock(m_mutex);
    return persistLocked();
}

} // namespace vesk::platform
