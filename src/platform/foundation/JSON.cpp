#include "platform/foundation/JSON.h"

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <nlohmann/json.hpp>

namespace vesk::platform {

namespace {

    constexpr int maxDepth = 512;

    bool isValid(const Value& value, int depth)
    {
        if (depth > maxDepth)
            return false;
        switch (value.type()) {
        case Value::Type::Null:
        case Value::Type::Bool:
        case Value::Type::Integer:
        case Value::Type::String:
            return true;
        case Value::Type::Real:
            return std::isfinite(*value.realValue());
        case Value::Type::Array:
            for (auto const& item : *value.array()) {
                if (!isValid(item, depth + 1))
                    return false;
            }
            return true;
        case Value::Type::Dictionary:
            for (auto const& entry : *value.dictionary()) {
                if (!isValid(entry.second, depth + 1))
                    return false;
            }
            return true;
        default:
            return false;
        }
    }

    class Writer {
    public:
        explicit Writer(JSONWritingOptions options)
            : m_options(options)
        {
        }

        void write(const Value& value, int depth)
        {
            switch (value.type()) {
            case Value::Type::Null:
                m_out += "null";
                break;
            case Value::Type::Bool:
                m_out += *value.boolValue() ? "true" : "false";
                break;
            case Value::Type::Integer:
                m_out += std::to_string(*value.integerValue());
                break;
            case Value::Type::Real:
                m_out += shortestRealText(*value.realValue());
                break;
            case Value::Type::String:
                writeString(*value.string());
                break;
            case Value::Type::Array: {
                auto const& items = *value.array();
                m_out += '[';
                for (std::size_t i = 0; i < items.size(); ++i) {
                    if (i)
                        m_out += ',';
                    newline(depth + 1);
                    write(items[i], depth + 1);
                }
                if (!items.empty())
                    newline(depth);
                m_out += ']';
                break;
            }
            case Value::Type::Dictionary: {
                auto const& dict = *value.dictionary();
                m_out += '{';
                bool first = true;
                for (auto const& [key, item] : dict) {
                    if (!first)
                        m_out += ',';
                    first = false;
                    newline(depth + 1);
                    writeString(key);
                    m_out += m_options.prettyPrinted ? " : " : ":";
                    write(item, depth + 1);
                }
                if (!dict.empty())
                    newline(depth);
                m_out += '}';
                break;
            }
            default:
                break;
            }
        }

        std::string take() { return std::move(m_out); }

    private:
        void newline(int depth)
        {
            if (!m_options.prettyPrinted)
                return;
            m_out += '\n';
            m_out.append(static_cast<std::size_t>(depth) * 2, ' ');
        }

        void writeString(const std::string& text)
        {
            // The library escapes and replaces invalid UTF-8 with U+FFFD instead of throwing.
            auto escaped = nlohmann::json(text).dump(-1, ' ', false, nlohmann::json::error_handler_t::replace);
            if (!m_options.escapeSlashes) {
                m_out += escaped;
                return;
            }
            for (char c : escaped) {
                if (c == '/')
                    m_out += '\\';
                m_out += c;
            }
        }

        JSONWritingOptions m_options;
        std::string m_out;
    };

    std::optional<Value> fromJSON(const nlohmann::ordered_json& json, int depth)
    {
        if (depth > maxDepth)
            return std::nullopt;
        switch (json.type()) {
        case nlohmann::ordered_json::value_t::null:
            return Value();
        case nlohmann::ordered_json::value_t::boolean:
            return Value(json.get<bool>());
        case nlohmann::ordered_json::value_t::number_integer:
            return Value(static_cast<long long>(json.get<std::int64_t>()));
        case nlohmann::ordered_json::value_t::number_unsigned: {
            auto number = json.get<std::uint64_t>();
            if (number <= static_cast<std::uint64_t>(INT64_MAX))
                return Value(static_cast<long long>(number));
            return Value(static_cast<double>(number));
        }
        case nlohmann::ordered_json::value_t::number_float:
            return Value(json.get<double>());
        case nlohmann::ordered_json::value_t::string:
            return Value(json.get<std::string>());
        case nlohmann::ordered_json::value_t::array: {
            Array items;
            items.reserve(json.size());
            for (auto const& item : json) {
                auto converted = fromJSON(item, depth + 1);
                if (!converted)
                    return std::nullopt;
                items.push_back(std::move(*converted));
            }
            return Value(std::move(items));
        }
        case nlohmann::ordered_json::value_t::object: {
            Dictionary dict;
            for (auto const& [key, item] : json.items()) {
                auto converted = fromJSON(item, depth + 1);
                if (!converted)
                    return std::nullopt;
                dict.set(key, std::move(*converted));
            }
            return Value(std::move(dict));
        }
        default:
            return std::nullopt;
        }
    }

    // Counts the nesting of the text before the library parses it: its
    // recursive destruction of deep documents could exhaust the stack.
    bool nestingWithinLimit(std::string_view text)
    {
        int depth = 0;
        bool inString = false;
        for (std::size_t i = 0; i < text.size(); ++i) {
            char c = text[i];
            if (inString) {
                if (c == '\\')
                    ++i;
                else if (c == '"')
                    inString = false;
            } else if (c == '"') {
                inString = true;
            } else if (c == '[' || c == '{') {
                if (++depth > maxDepth)
                    return false;
            } else if (c == ']' || c == '}') {
                --depth;
            }
        }
        return true;
    }

}

bool isValidJSONObject(const Value& value, bool fragmentsAllowed)
{
    if (!fragmentsAllowed && !value.isArray() && !value.isDictionary())
        return false;
    return isValid(value, 0);
}

std::optional<std::string> dataWithJSONObject(const Value& value, JSONWritingOptions options)
{
    if (!isValidJSONObject(value, options.fragmentsAllowed))
        return std::nullopt;
    Writer writer(options);
    writer.write(value, 0);
    return writer.take();
}

std::optional<Value> JSONObjectWithData(std::string_view text)
{
    if (!nestingWithinLimit(text))
        return std::nullopt;
    // Ordered so that objects keep the key order of the text.
    auto json = nlohmann::ordered_json::parse(text.begin(), text.end(), nullptr, false);
    if (json.is_discarded())
        return std::nullopt;
    return fromJSON(json, 0);
}

} // namespace vesk::platform
