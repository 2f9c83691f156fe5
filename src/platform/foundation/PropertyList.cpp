#include "platform/foundation/PropertyList.h"

#include "platform/foundation/FileData.h"
#include "platform/foundation/NSString.h"

#include <cmath>
#include <cstdlib>
#include <memory>
#include <plist/plist.h>
#include <string_view>
#include <vector>

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

    // Property-list strings are Unicode: bytes that are not UTF-8 would come back
    // altered, and the library cuts a text at its first NUL.
    bool storableText(const std::string& text)
    {
        return isValidUTF8(text) && text.find('\0') == std::string::npos;
    }

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
            if (!storableText(*value.string()))
                return nullptr;
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
                if (!storableText(key))
                    return nullptr;
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
        case PLIST_STRING: {
            // By pointer and length: the copying getter aborts on a string with a NUL inside.
            std::uint64_t length = 0;
            auto const* text = plist_get_string_ptr(node, &length);
            return Value(text ? std::string(text, length) : std::string {});
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

    // The library parses and frees nested containers recursively, so a crafted
    // file nested deeply enough overflows the stack, and a binary list whose
    // objects share children expands into a tree of exponential size. Both are
    // measured here, without recursion deeper than `maxDepth`, before the library sees them.
    constexpr std::uint64_t maxExpandedNodes = 1u << 22;

    class BinaryShape {
    public:
        explicit BinaryShape(const Bytes& data)
            : m_data(data)
        {
        }

        bool acceptable()
        {
            if (m_data.size() < 8 + 32)
                return false;
            auto trailer = m_data.size() - 32;
            m_offsetSize = m_data[trailer + 6];
            m_refSize = m_data[trailer + 7];
            auto count = readUnsigned(trailer + 8, 8);
            auto top = readUnsigned(trailer + 16, 8);
            m_tableOffset = readUnsigned(trailer + 24, 8);
            if (m_offsetSize < 1 || m_offsetSize > 8 || m_refSize < 1 || m_refSize > 8 || m_tableOffset > trailer)
                return false;
            if (count == 0 || count > (trailer - m_tableOffset) / m_offsetSize || top >= count)
                return false;
            m_count = count;
            m_expanded.assign(count, 0);
            m_state.assign(count, State::Unseen);
            return expandedSize(top, 0).has_value();
        }

    private:
        enum class State : std::uint8_t {
            Unseen,
            InProgress,
            Done,
        };

        std::uint64_t readUnsigned(std::uint64_t at, unsigned size) const
        {
            std::uint64_t value = 0;
            for (unsigned i = 0; i < size; ++i)
                value = (value << 8) | m_data[at + i];
            return value;
        }

        // An object's marker, its element count and where its contents start.
        struct Header {
            std::uint8_t kind { 0 };
            std::uint64_t length { 0 };
            std::uint64_t start { 0 };
        };

        std::optional<Header> header(std::uint64_t index) const
        {
            if (index >= m_count)
                return std::nullopt;
            auto offset = readUnsigned(m_tableOffset + index * m_offsetSize, m_offsetSize);
            if (offset < 8 || offset >= m_tableOffset)
                return std::nullopt;
            Header result { static_cast<std::uint8_t>(m_data[offset] >> 4), m_data[offset] & 0x0Fu, offset + 1 };
            if (result.length == 0x0F) {
                if (result.start >= m_tableOffset || (m_data[result.start] >> 4) != 0x1)
                    return std::nullopt;
                unsigned size = 1u << (m_data[result.start] & 0x0F);
                if (size > 8 || result.start + 1 + size > m_tableOffset)
                    return std::nullopt;
                result.length = readUnsigned(result.start + 1, size);
                result.start += 1 + size;
            }
            return result;
        }

        // The library aborts on a dictionary key with a NUL inside, so such keys are refused here.
        bool keyAcceptable(std::uint64_t index) const
        {
            auto object = header(index);
            if (!object || (object->kind != 0x5 && object->kind != 0x6))
                return false;
            auto [kind, length, start] = *object;
            unsigned unit = kind == 0x6 ? 2 : 1;
            if (length > (m_tableOffset - start) / unit)
                return false;
            for (std::uint64_t i = 0; i < length; ++i) {
                if (readUnsigned(start + i * unit, unit) == 0)
                    return false;
            }
            return true;
        }

        // The number of nodes the object becomes once shared children are copied.
        std::optional<std::uint64_t> expandedSize(std::uint64_t index, int depth)
        {
            if (index >= m_count || depth > maxDepth || m_state[index] == State::InProgress)
                return std::nullopt;
            if (m_state[index] == State::Done)
                return m_expanded[index];
            auto object = header(index);
            if (!object)
                return std::nullopt;
            auto [kind, length, refs] = *object;
            std::uint64_t total = 1;
            if (kind == 0xA || kind == 0xB || kind == 0xC || kind == 0xD) {
                std::uint64_t children = kind == 0xD ? 2 : 1;
                if (length > (m_tableOffset - refs) / m_refSize / children)
                    return std::nullopt;
                m_state[index] = State::InProgress;
                for (std::uint64_t i = 0; i < length * children; ++i) {
                    auto reference = readUnsigned(refs + i * m_refSize, m_refSize);
                    // Keys come first in a dictionary.
                    if (kind == 0xD && i < length && !keyAcceptable(reference))
                        return std::nullopt;
                    auto child = expandedSize(reference, depth + 1);
                    if (!child)
                        return std::nullopt;
                    total += *child;
                    if (total > maxExpandedNodes)
                        return std::nullopt;
                }
            }
            m_state[index] = State::Done;
            m_expanded[index] = total;
            return total;
        }

        const Bytes& m_data;
        unsigned m_offsetSize { 0 };
        unsigned m_refSize { 0 };
        std::uint64_t m_tableOffset { 0 };
        std::uint64_t m_count { 0 };
        std::vector<std::uint64_t> m_expanded;
        std::vector<State> m_state;
    };

    // Counts element nesting in XML; markup that opens nothing (comments,
    // declarations, self-closing tags) is skipped.
    bool xmlNestingWithinLimit(const Bytes& data)
    {
        std::string_view text(reinterpret_cast<const char*>(data.data()), data.size());
        int depth = 0;
        std::size_t i = 0;
        while ((i = text.find('<', i)) != std::string_view::npos) {
            auto rest = text.substr(i);
            std::string_view terminator = ">";
            if (rest.starts_with("<!--"))
                terminator = "-->";
            else if (rest.starts_with("<![CDATA["))
                terminator = "]]>";
            auto end = text.find(terminator, i + 1);
            if (end == std::string_view::npos)
                return true; // unterminated: the parser refuses it
            bool opens = rest.size() > 1 && rest[1] != '/' && rest[1] != '?' && rest[1] != '!' && text[end - 1] != '/';
            if (rest.size() > 1 && rest[1] == '/')
                --depth;
            else if (opens && ++depth > maxDepth)
                return false;
            i = end + terminator.size();
        }
        return true;
    }

    bool shapeAcceptable(const Bytes& data)
    {
        auto const* bytes = reinterpret_cast<const char*>(data.data());
        if (plist_is_binary(bytes, static_cast<std::uint32_t>(data.size())))
            return BinaryShape(data).acceptable();
        return xmlNestingWithinLimit(data);
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
    if (!shapeAcceptable(data))
        return std::nullopt;
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
