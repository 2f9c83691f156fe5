#include "platform/foundation/PropertyListDescription.h"

#include <algorithm>
#include <cstdio>
#include <vector>

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

    // The character of the UTF-8 sequence at the front of the text, and its length; a stray
    // byte stands for itself.
    std::pair<char32_t, std::size_t> nextCharacter(std::string_view text)
    {
        auto lead = static_cast<unsigned char>(text[0]);
        std::size_t length = lead >= 0xF0 ? 4 : lead >= 0xE0 ? 3
            : lead >= 0xC0                                   ? 2
                                                             : 1;
        if (length == 1 || length > text.size())
            return { lead, 1 };
        char32_t character = lead & (0x7F >> length);
        for (std::size_t k = 1; k < length; ++k) {
            auto next = static_cast<unsigned char>(text[k]);
            if ((next & 0xC0) != 0x80)
                return { lead, 1 };
            character = (character << 6) | (next & 0x3F);
        }
        return { character, length };
    }

    // Beyond ASCII each UTF-16 unit is written as a backslash, "U" and four hex digits.
    void appendEscaped(char32_t character, std::string& out)
    {
        auto unit = [&](unsigned value) {
            char buffer[8];
            std::snprintf(buffer, sizeof buffer, "\\U%04x", value & 0xFFFF);
            out += buffer;
        };
        if (character < 0x10000) {
            unit(static_cast<unsigned>(character));
            return;
        }
        character -= 0x10000;
        unit(0xD800 + static_cast<unsigned>(character >> 10));
        unit(0xDC00 + static_cast<unsigned>(character & 0x3FF));
    }

    void appendString(std::string_view text, std::string& out)
    {
        if (isPlainWord(text)) {
            out += text;
            return;
        }
        out += '"';
        for (std::size_t i = 0; i < text.size(); ++i) {
            char ch = text[i];
            if (static_cast<unsigned char>(ch) >= 0x80) {
                auto [character, length] = nextCharacter(text.substr(i));
                appendEscaped(character, out);
                i += length - 1;
                continue;
            }
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
        case Value::Type::Dictionary: {
            indent(level, out);
            out += "{\n";
            // Listed in ascending order of the keys, whatever order the file has.
            std::vector<const Dictionary::Entry*> entries;
            for (auto& entry : *value.dictionary())
                entries.push_back(&entry);
            std::sort(entries.begin(), entries.end(), [](auto* a, auto* b) { return a->first < b->first; });
            for (auto* entry : entries) {
                indent(level + 1, out);
                appendString(entry->first, out);
                out += " = ";
                describe(entry->second, level + 1, out);
                out += ";\n";
            }
            indent(level, out);
            out += '}';
            break;
        }
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
