#include "platform/foundation/PropertyList.h"

#include "platform/foundation/FileData.h"

#include <cmath>
#include <cstdlib>
#include <memory>
#include <plist/plist.h>

namespace vesk::platform {

namespace {

    // Seconds between 1970-01-01 and 2001-01-01, the property-list epoch.
    constexpr double referenceDateOffset = 978307200.0;
    // Nesting deeper than this is refused rather than risking the stack.
    constexpr int maxDepth = 512;

    struct PlistDeleter {
        void operator()(plist_t node) const
        {
            if (node)
                plist_free(node);
        }
    };
    using PlistPtr = std::unique_ptr<void, PlistDeleter>;

    plist_t toPlist(const Value& value, int depth)
    {
        if (depth > maxDepth)
            return nullptr;
        switch (value.type()) {
        case Value::Type::Null:
            return nullptr;
        case Value::Type::Bool:
            return plist_new_bool(*value.boolValue() ? 1 : 0);
        case Value::Type::Integer:
            return plist_new_uint(static_cast<std::uint64_t>(*value.integerValue()));
        case Value::Type::Real:
            return plist_new_real(*value.realValue());
        case Value::Type::String:
            return plist_new_string(value.string()->c_str());
        case Value::Type::Data: {
            auto const& bytes = *value.data();
            return plist_new_data(reinterpret_cast<const char*>(bytes.data()), bytes.size());
        }
        case Value::Type::Date: {
            double since2001 = value.dateValue()->timeIntervalSince1970 - referenceDateOffset;
            double whole = std::floor(since2001);
            if (!(whole >= INT32_MIN && whole <= INT32_MAX))
                return nullptr;
            auto micros = static_cast<std::int32_t>(std::lround((since2001 - whole) * 1e6));
            auto seconds = static_cast<std::int32_t>(whole);
            if (micros >= 1000000 && seconds < INT32_MAX) {
                ++seconds;
                micros -= 1000000;
            }
            return plist_new_date(seconds, micros);
        }
        case Value::Type::Uid:
            return plist_new_uid(value.uidValue()->value);
        case Value::Type::Array: {
            PlistPtr array { plist_new_array() };
            for (auto const& item : *value.array()) {
                auto* node = toPlist(item, depth + 1);
                if (!node)
                    return nullptr;
                plist_array_append_item(array.get(), node);
            }
            return array.release();
        }
        case Value::Type::Dictionary: {
            PlistPtr dict { plist_new_dict() };
            for (auto const& [key, item] : *value.dictionary()) {
                auto* node = toPlist(item, depth + 1);
                if (!node)
                    return nullptr;
                plist_dict_set_item(dict.get(), key.c_str(), node);
            }
            return dict.release();
        }
        }
        return nullptr;
    }

    std::optional<Value> fromPlist(plist_t node, int depth)
    {
        if (!node || depth > maxDepth)
            return std::nullopt;
        switch (plist_get_node_type(node)) {
        case PLIST_BOOLEAN: {
            std::uint8_t flag = 0;
            plist_get_bool_val(node, &flag);
            return Value(flag != 0);
        }
        case PLIST_UINT: {
            std::uint64_t number = 0;
            plist_get_uint_val(node, &number);
            return Value(static_cast<long long>(number));
        }
        case PLIST_REAL: {
            double number = 0;
            plist_get_real_val(node, &number);
            return Value(number);
        }
        case PLIST_STRING:
        case PLIST_KEY: {
            char* text = nullptr;
            if (plist_get_node_type(node) == PLIST_KEY)
                plist_get_key_val(node, &text);
            else
                plist_get_string_val(node, &text);
            std::string result = text ? text : "";
            std::free(text);
            return Value(std::move(result));
        }
        case PLIST_DATA: {
            std::uint64_t length = 0;
            auto const* bytes = reinterpret_cast<const std::uint8_t*>(plist_get_data_ptr(node, &length));
            return Value(bytes ? Bytes(bytes, bytes + length) : Bytes {});
        }
        case PLIST_DATE: {
            std::int32_t seconds = 0;
            std::int32_t micros = 0;
            plist_get_date_val(node, &seconds, &micros);
            // The library splits dates before the epoch toward zero: -1.5 is -1 and 500000.
            double since2001 = seconds < 0 ? seconds - std::abs(micros) / 1e6 : seconds + micros / 1e6;
            return Value(Date { since2001 + referenceDateOffset });
        }
        case PLIST_UID: {
            std::uint64_t uid = 0;
            plist_get_uid_val(node, &uid);
            return Value(Uid { uid });
        }
        case PLIST_ARRAY: {
            Array items;
            auto count = plist_array_get_size(node);
            items.reserve(count);
            for (std::uint32_t i = 0; i < count; ++i) {
                auto item = fromPlist(plist_array_get_item(node, i), depth + 1);
                if (!item)
                    return std::nullopt;
                items.push_back(std::move(*item));
            }
            return Value(std::move(items));
        }
        case PLIST_DICT: {
            Dictionary dict;
            plist_dict_iter iterator = nullptr;
            plist_dict_new_iter(node, &iterator);
            for (;;) {
                char* key = nullptr;
                plist_t item = nullptr;
                plist_dict_next_item(node, iterator, &key, &item);
                if (!key)
                    break;
                std::string name = key;
                std::free(key);
                auto converted = fromPlist(item, depth + 1);
                if (!converted) {
                    std::free(iterator);
                    return std::nullopt;
                }
                dict.set(std::move(name), std::move(*converted));
            }
            std::free(iterator);
            return Value(std::move(dict));
        }
        default:
            return std::nullopt;
        }
    }

}

bool propertyListIsValid(const Value& value)
{
    PlistPtr node { toPlist(value, 0) };
    return node != nullptr;
}

std::optional<Value> propertyListFromData(const Bytes& data, PropertyListFormat* format)
{
    if (data.empty() || data.size() > UINT32_MAX)
        return std::nullopt;
    auto const* bytes = reinterpret_cast<const char*>(data.data());
    auto length = static_cast<std::uint32_t>(data.size());
    plist_t raw = nullptr;
    plist_from_memory(bytes, length, &raw);
    PlistPtr node { raw };
    if (!node)
        return std::nullopt;
    auto value = fromPlist(node.get(), 0);
    if (value && format)
        *format = plist_is_binary(bytes, length) ? PropertyListFormat::Binary : PropertyListFormat::XML;
    return value;
}

std::optional<Bytes> dataFromPropertyList(const Value& value, PropertyListFormat format)
{
    PlistPtr node { toPlist(value, 0) };
    if (!node)
        return std::nullopt;
    char* out = nullptr;
    std::uint32_t length = 0;
    if (format == PropertyListFormat::Binary)
        plist_to_bin(node.get(), &out, &length);
    else
        plist_to_xml(node.get(), &out, &length);
    if (!out)
        return std::nullopt;
    Bytes result(reinterpret_cast<std::uint8_t*>(out), reinterpret_cast<std::uint8_t*>(out) + length);
    if (format == PropertyListFormat::Binary)
        plist_to_bin_free(out);
    else
        plist_to_xml_free(out);
    return result;
}

std::optional<std::string> xmlPropertyListString(const Value& value)
{
    auto data = dataFromPropertyList(value, PropertyListFormat::XML);
    if (!data)
        return std::nullopt;
    return std::string(data->begin(), data->end());
}

std::optional<Value> propertyListFromFile(const std::string& path, std::size_t maxBytes)
{
    auto data = readFileContents(path, maxBytes);
    if (!data)
        return std::nullopt;
    return propertyListFromData(*data);
}

} // namespace vesk::platform
