#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <unordered_map>
#include <utility>
#include <variant>
#include <vector>

namespace vesk::platform {

using Bytes = std::vector<std::uint8_t>;

// A point in time, as seconds since 1970-01-01 00:00:00 UTC.
struct Date {
    double timeIntervalSince1970 { 0 };
    bool operator==(const Date&) const = default;
};

// A keyed-archive object reference inside a property list.
struct Uid {
    std::uint64_t value { 0 };
    bool operator==(const Uid&) const = default;
};

class Value;
class Dictionary;

using Array = std::vector<Value>;

// A property-list or JSON value.
class Value {
public:
    enum class Type {
        Null,
        Bool,
        Integer,
        Real,
        String,
        Data,
        Date,
        Array,
        Dictionary,
        Uid,
    };

    Value() = default;
    Value(std::nullptr_t) { }
    Value(bool value)
        : m_storage(value)
    {
    }
    Value(int value)
        : m_storage(std::int64_t { value })
    {
    }
    Value(long value)
        : m_storage(std::int64_t { value })
    {
    }
    Value(long long value)
        : m_storage(std::int64_t { value })
    {
    }
    Value(unsigned value)
        : m_storage(std::int64_t { value })
    {
    }
    // Counts above the signed range are kept as reals.
    Value(unsigned long value)
        : m_storage(value <= static_cast<unsigned long>(INT64_MAX) ? Storage(std::int64_t(value)) : Storage(static_cast<double>(value)))
    {
    }
    Value(unsigned long long value)
        : m_storage(value <= static_cast<unsigned long long>(INT64_MAX) ? Storage(std::int64_t(value)) : Storage(static_cast<double>(value)))
    {
    }
    Value(double value)
        : m_storage(value)
    {
    }
    Value(std::string value)
        : m_storage(std::move(value))
    {
    }
    Value(std::string_view value)
        : m_storage(std::string(value))
    {
    }
    Value(const char* value)
        : m_storage(std::string(value ? value : ""))
    {
    }
    Value(Bytes value)
        : m_storage(std::move(value))
    {
    }
    Value(platform::Date value)
        : m_storage(value)
    {
    }
    Value(platform::Uid value)
        : m_storage(value)
    {
    }
    Value(platform::Array value)
        : m_storage(std::make_shared<platform::Array>(std::move(value)))
    {
    }
    Value(platform::Dictionary value);

    Type type() const { return static_cast<Type>(m_storage.index()); }
    bool isNull() const { return type() == Type::Null; }
    bool isBool() const { return type() == Type::Bool; }
    bool isInteger() const { return type() == Type::Integer; }
    bool isReal() const { return type() == Type::Real; }
    bool isNumber() const { return isInteger() || isReal(); }
    bool isString() const { return type() == Type::String; }
    bool isData() const { return type() == Type::Data; }
    bool isDate() const { return type() == Type::Date; }
    bool isArray() const { return type() == Type::Array; }
    bool isDictionary() const { return type() == Type::Dictionary; }
    bool isUid() const { return type() == Type::Uid; }

    // Exact kind only; a mismatch answers absent (or a null pointer).
    std::optional<bool> boolValue() const;
    std::optional<std::int64_t> integerValue() const; // also a real, truncated
    std::optional<double> realValue() const; // also an integer
    std::optional<platform::Date> dateValue() const;
    std::optional<platform::Uid> uidValue() const;
    const std::string* string() const { return std::get_if<std::string>(&m_storage); }
    const Bytes* data() const { return std::get_if<Bytes>(&m_storage); }
    const platform::Array* array() const;
    const platform::Dictionary* dictionary() const;

    // Mutable access; copies shared storage first, so copies never see the change.
    platform::Array* mutableArray();
    platform::Dictionary* mutableDictionary();

    // Dictionary lookup; a null value when absent or not a dictionary.
    const Value& operator[](std::string_view key) const;
    // Array element; a null value when out of range or not an array.
    const Value& operator[](std::size_t index) const;

    bool operator==(const Value& other) const;

    // A short readable text, as "%@" shows an object: strings as they are,
    // numbers in decimal, Bool as 1 or 0, containers in property-list style.
    std::string description() const;

private:
    // Containers are shared between copies and copied on write, so values stay cheap to pass around.
    using Storage = std::variant<std::monostate, bool, std::int64_t, double, std::string, Bytes, platform::Date,
        std::shared_ptr<platform::Array>, std::shared_ptr<platform::Dictionary>, platform::Uid>;
    Storage m_storage;
};

// A dictionary that keeps its keys in insertion order (JSON answers are
// compared byte for byte) and finds them by key in constant time.
class Dictionary {
public:
    using Entry = std::pair<std::string, Value>;
    using const_iterator = std::vector<Entry>::const_iterator;

    Dictionary();
    Dictionary(std::initializer_list<Entry> entries);
    Dictionary(const Dictionary&);
    Dictionary(Dictionary&&) noexcept;
    Dictionary& operator=(const Dictionary&);
    Dictionary& operator=(Dictionary&&) noexcept;
    ~Dictionary();

    // Replaces the value of an existing key in place; new keys go at the end.
    void set(std::string key, Value value);
    bool erase(std::string_view key);
    void clear();

    const Value* find(std::string_view key) const;
    Value* find(std::string_view key);
    bool contains(std::string_view key) const { return find(key) != nullptr; }
    std::size_t size() const { return m_entries.size(); }
    bool empty() const { return m_entries.empty(); }
    std::vector<std::string> keys() const;

    const_iterator begin() const { return m_entries.begin(); }
    const_iterator end() const { return m_entries.end(); }

    // Equal when both hold the same keys with equal values, in any order.
    bool operator==(const Dictionary& other) const;

private:
    void reindex();

    std::vector<Entry> m_entries;
    std::unordered_map<std::string, std::size_t> m_index;
};

inline Value::Value(platform::Dictionary value)
    : m_storage(std::make_shared<platform::Dictionary>(std::move(value)))
{
}

// The shortest decimal text that reads back as the same double ("0.1", "2", "1e+300").
std::string shortestRealText(double value);

} // namespace vesk::platform
