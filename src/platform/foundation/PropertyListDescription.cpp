#include "platform/foundation/PropertyListDescription.h"

namespace vesk::platform {

namespace {

    bool isPlainWord(std::string_view text)
    {
        if (text.empty())
            return false;
        for (char ch : text) {
            auto c = static_cast<unsigned char>(ch);
            bool word = (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '_' || c == '$';
            if (!word)
                return false;
        }
        return true;
    }

    void appendString(std::string_view text, std::string& out)
    {
        if (isPlainWord(text)) {
            out += text;
            return;
        }
        out += '"';
        for (char ch : text) {
            switch (ch) {
            case '"':
                out += "\\\"";
                break;
            case '\\':
                out += "\\\\";
                break;
            case '\n':
                out += "\\n";
                break;
            case '\t':
                out += "\\t";
                break;
            case '\r':
                out += "\\r";
                break;
            default:
                out += ch;
            }
        }
        out += '"';
    }

    void indent(int level, std::string& out)
    {
        out.append(static_cast<std::size_t>(level) * 4, ' ');
    }

    // A nested container begins with the indentation of its own level, as the platform's
    // descriptionWithLocale:indent: does, so "key =     {" and an array's "        (" are right.
    void describe(const Value& value, int level, std::string& out)
    {
        switch (value.type()) {
        case Value::Type::Array: {
            indent(level, out);
            out += "(\n";
            auto& items = *value.array();
            for (std::size_t i = 0; i < items.size(); ++i) {
                indent(level + 1, out);
                describe(items[i], level + 1, out);
                out += i + 1 < items.size() ? ",\n" : "\n";
            }
            indent(level, out);
            out += ')';
            break;
        }
        case Value::Type::Dictionary:
            indent(level, out);
            out += "{\n";
            for (auto& [key, item] : *value.dictionary()) {
                indent(level + 1, out);
                appendString(key, out);
                out += " = ";
                describe(item, level + 1, out);
                out += ";\n";
            }
            indent(level, out);
            out += '}';
            break;
        case Value::Type::String:
            appendString(*value.string(), out);
            break;
        case Value::Type::Date:
            appendString(value.description(), out);
            break;
        default:
            out += value.description();
        }
    }

}

std::string oldStyleDescription(const Value& value)
{
    std::string out;
    describe(value, 0, out);
    return out;
}

}
