#pragma once

#include "platform/foundation/Value.h"

#include <cstdint>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>

namespace vesk::platform {

// The app's settings: one property-list file, read when opened and written
// whole and atomically after every change. Safe to use from any thread.
// Nothing is registered: an absent Bool reads false, absent objects read absent.
class NSUserDefaults {
public:
    // The store at Library/Preferences/vesk.plist of the app's home.
    static std::shared_ptr<NSUserDefaults> standardUserDefaults();
    // Forgets the shared store, so the next standardUserDefaults() opens it again
    // from the current home (tests point VESK_HOME elsewhere and re-open).
    static void resetStandardUserDefaults();

    // A store over the given file. A missing file reads as empty; a file that is
    // not a property-list dictionary is moved aside (kept beside it) and reads as empty.
    explicit NSUserDefaults(std::string path);

    NSUserDefaults(const NSUserDefaults&) = delete;
    NSUserDefaults& operator=(const NSUserDefaults&) = delete;

    std::optional<Value> objectForKey(std::string_view key) const;
    std::optional<std::string> stringForKey(std::string_view key) const;
    std::optional<Bytes> dataForKey(std::string_view key) const;
    std::optional<Array> arrayForKey(std::string_view key) const;
    std::optional<Dictionary> dictionaryForKey(std::string_view key) const;
    // Numbers are true when non-zero; strings "YES"/"true" (any case) or a non-zero number.
    bool boolForKey(std::string_view key) const;
    std::int64_t integerForKey(std::string_view key) const;
    double doubleForKey(std::string_view key) const;

    // A null value removes the key.
    void setObject(const Value& value, std::string_view key);
    void setBool(bool value, std::string_view key);
    void setInteger(std::int64_t value, std::string_view key);
    void setDouble(double value, std::string_view key);
    void removeObjectForKey(std::string_view key);

    Dictionary dictionaryRepresentation() const;
    // Writes the store now; false when the write failed.
    bool synchronize();

    const std::string& path() const { return m_path; }

private:
    void load();
    bool persistLocked();

    std::string m_path;
    mutable std::mutex m_mutex;
    Dictionary m_values;
};

} // namespace vesk::platform
