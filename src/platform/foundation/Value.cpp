#include "platform/foundation/Value.h"

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <ctime>

namespace vesk::platform {

Dictionary::Dictionary() = default;
Dictionary::Dictionary(const Dictionary&) = default;
Dictionary::Dictionary(Dictionary&&) noexcept = default;
Dictionary& Dictionary::operator=(const Dictionary&) = default;
Dictionary& Dictionary::operator=(Dictionary&&) noexcept = default;
Dictionary::~Dictionary() = default;

Dictionary::Dictionary(std::initializer_list<Entry> entries)
{
    for (auto const& entry : entries)
        set(entry.first, entry.second);
}

void Dictionary::set(std::string key, Value value)
{
    if (auto it = m_index.find(key); it != m_index.end()) {
        m_entries[it->second].second = std::move(value);
        return;
    }
    m_index.emplace(key, m_entries.size());
    m_entries.emplace_back(std::move(key), std::move(value));
}

bool Dictionary::erase(std::string_view key)
{
    auto it = m_index.find(std::string(key));
    if (it == m_index.end())
        return false;
    m_entries.erase(m_entries.begin() + static_cast<std::ptrdiff_t>(it->second));
    reindex();
    return true;
}

void Dictionary::clear()
{
    m_entries.clear();
    m_index.clear();
}

void Dictionary::reindex()
{
    m_index.clear();
    for (std::size_t i = 0; i < m_entries.size(); ++i)
        m_index.emplace(m_entries[i].first, i);
}

const Value* Dictionary::find(std::string_view key) const
{
    auto it = m_index.find(std::string(key));
    return it == m_index.end() ? nullptr : &m_entries[it->second].second;
}

Value* Dictionary::find(std::string_view key)
{
    auto it = m_index.find(std::string(key));
    return it == m_index.end() ? nullptr : &m_entries[it->second].second;
}

std::vector<std::string> Dictionary::keys() const
{
    std::vector<std::string> result;
    result.reserve(m_entries.size());
    for (auto const& entry : m_entries)
        result.push_back(entry.first);
    return result;
}

bool Dictionary::operator==(const Dictionary& other) const
{
    if (size() != other.size())
        return false;
    for (auto const& [key, value] : m_entries) {
        auto const* theirs = other.find(key);
        if (!theirs || !(*theirs == value))
            return false;
    }
    return true;
}

std::optional<bool> Value::boolValue() const
{
    if (auto const* value = std::get_if<bool>(&m_storage))
        return *value;
    return std::nullopt;
}

std::optional<std::int64_t> Value::integerValue() const
{
    if (auto const* value = std::get_if<std::int64_t>(&m_storage))
        return *value;
    if (auto const* value = std::get_if<double>(&m_storage)) {
        // Out-of-range conversion is undefined; clamp instead.
        if (std::isnan(*value))
            return 0;
        if (*value >= 9.2233720368547758e18)
            return INT64_MAX;
        if (*value <= -9.2233720368547758e18)
            return INT64_MIN;
        return static_cast<std::int64_t>(*value);
    }
    return std::nullopt;
}

std::optional<double> Value::realValue() const
{
    if (auto const* value = std::get_if<double>(&m_storage))
        return *value;
    if (auto const* value = std::get_if<std::int64_t>(&m_storage))
        return static_cast<double>(*value);
    return std::nullopt;
}

std::optional<Date> Value::dateValue() const
{
    if (auto const* value = std::get_if<Date>(&m_storage))
        return *value;
    return std::nullopt;
}

std::optional<Uid> Value::uidValue() const
{
    if (auto const* value = std::get_if<Uid>(&m_storage))
        return *value;
    return std::nullopt;
}

const Array* Value::array() const
{
    auto const* value = std::get_if<std::shared_ptr<Array>>(&m_storage);
    return value ? value->get() : nullptr;
}

const Dictionary* Value::dictionary() const
{
    auto const* value = std::get_if<std::shared_ptr<Dictionary>>(&m_storage);
    return value ? value->get() : nullptr;
}

// Containers are shared between copies of a value; the first change takes a copy of its own.
template<typename Container>
static Container* unshared(std::shared_ptr<Container>* value)
{
    if (!value)
        return nullptr;
    if (value->use_count() > 1)
        *value = std::make_shared<Container>(**value);
    return value->get();
}

Array* Value::mutableArray()
{
    return unshared(std::get_if<std::shared_ptr<Array>>(&m_storage));
}

Dictionary* Value::mutableDictionary()
{
    return unshared(std::get_if<std::shared_ptr<Dictionary>>(&m_storage));
}

static const Value& nullValue()
{
    static const Value null;
    return null;
}

const Value& Value::operator[](std::string_view key) const
{
    if (auto const* dict = dictionary()) {
        if (auto const* value = dict->find(key))
            return *value;
    }
    return nullValue();
}

const Value& Value::operator[](std::size_t index) const
{
    if (auto const* items = array(); items && index < items->size())
        return (*items)[index];
    return nullValue();
}

bool Value::operator==(const Value& other) const
{
    if (type() != other.type())
        return false;
    switch (type()) {
    case Type::Array:
        return *array() == *other.array();
    case Type::Dictionary:
        return *dictionary() == *other.dictionary();
    default:
        return m_storage == other.m_storage;
    }
}

std::string shortestRealText(double value)
{
    char buffer[32];
    for (int precision = 1; precision <= 17; ++precision) {
        std::snprintf(buffer, sizeof buffer, "%.*g", precision, value);
        if (std::strtod(buffer, nullptr) == value)
            break;
    }
    return buffer;
}

static void describe(const Value& value, std::string& out, int depth)
{
    auto indent = [&](int level) { out.append(static_cast<std::size_t>(level) * 4, ' '); };
    switch (value.type()) {
    case Value::Type::Null:
        out += "<null>";
        break;
    case Value::Type::Bool:
        out += *value.boolValue() ? "1" : "0";
        break;
    case Value::Type::Integer:
        out += std::to_string(*value.integerValue());
        break;
    case Value::Type::Real:
        out += shortestRealText(*value.realValue());
        break;
    case Value::Type::String:
        out += *value.string();
        break;
    case Value::Type::Data: {
        static constexpr char digits[] = "0123456789abcdef";
        out += '<';
        auto const& bytes = *value.data();
        for (std::size_t i = 0; i < bytes.size(); ++i) {
            if (i && i % 4 == 0)
                out += ' ';
            out += digits[bytes[i] >> 4];
            out += digits[bytes[i] & 15];
        }
        out += '>';
        break;
    }
    case Value::Type::Date: {
        auto seconds = static_cast<std::time_t>(std::floor(value.dateValue()->timeIntervalSince1970));
        std::tm parts {};
        gmtime_r(&seconds, &parts);
        char buffer[64];
        std::strftime(buffer, sizeof buffer, "%Y-%m-%d %H:%M:%S +0000", &parts);
        out += buffer;
        break;
    }
    case Value::Type::Uid:
        out += "<CFKeyedArchiverUID>{value = " + std::to_string(value.uidValue()->value) + "}";
        break;
    case Value::Type::Array: {
        out += "(\n";
        auto const& items = *value.array();
        for (std::size_t i = 0; i < items.size(); ++i) {
            indent(depth + 1);
            describe(items[i], out, depth + 1);
            out += i + 1 < items.size() ? ",\n" : "\n";
        }
        indent(depth);
        out += ')';
        break;
    }
    case Value::Type::Dictionary:
        out += "{\n";
        for (auto const& [key, item] : *value.dictionary()) {
            indent(depth + 1);
            out += key;
            out += " = ";
            describe(item, out, depth + 1);
            out += ";\n";
        }
        indent(depth);
        out += '}';
        break;
    }
}

std::string Value::description() const
{
    std::string out;
    describe(*this, out, 0);
    return out;
}

} // namespace vesk::platform
