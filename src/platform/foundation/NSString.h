#pragma once

#include "platform/foundation/Value.h"

#include <cstdint>
#include <initializer_list>
#include <optional>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

namespace vesk::platform {

// Path helpers with the platform's semantics: trailing "/" is dropped (except for
// the root), repeated "/" collapse, "/" alone is the root.
std::vector<std::string> pathComponents(std::string_view path);
std::string lastPathComponent(std::string_view path);
std::string stringByAppendingPathComponent(std::string_view path, std::string_view component);
std::string stringByDeletingLastPathComponent(std::string_view path);
std::string pathExtension(std::string_view path);
std::string stringByDeletingPathExtension(std::string_view path);
// Absent when the extension cannot be appended (empty name, or ends in "~").
std::optional<std::string> stringByAppendingPathExtension(std::string_view path, std::string_view extension);
bool isAbsolutePath(std::string_view path);
// A leading "~" or "~/" becomes the user's home folder ($HOME); "~name" that of that user.
std::string expandingTildeInPath(std::string_view path);

// 0 to 15 for a hexadecimal digit (either case), else -1.
int hexDigitValue(char character);
bool isValidUTF8(std::string_view text);
// The UTF-8 bytes of one code point; U+FFFD stands for a surrogate or a value past U+10FFFF.
std::string utf8Encoded(std::uint32_t codePoint);
// The text's UTF-8 bytes; the bytes of "Error!" when the text is not valid UTF-8.
Bytes toData(std::string_view text);
// Absent when the bytes are not valid UTF-8.
std::optional<std::string> stringFromUTF8Data(const Bytes& data);

// One argument of a format string.
class FormatArg {
public:
    FormatArg(int value)
        : m_value(std::int64_t { value })
    {
    }
    FormatArg(long value)
        : m_value(std::int64_t { value })
    {
    }
    FormatArg(long long value)
        : m_value(std::int64_t { value })
    {
    }
    FormatArg(unsigned value)
        : m_value(std::uint64_t { value })
    {
    }
    FormatArg(unsigned long value)
        : m_value(std::uint64_t { value })
    {
    }
    FormatArg(unsigned long long value)
        : m_value(std::uint64_t { value })
    {
    }
    FormatArg(char value)
        : m_value(std::int64_t { static_cast<unsigned char>(value) })
    {
    }
    FormatArg(bool value)
        : m_value(std::int64_t { value ? 1 : 0 })
    {
    }
    FormatArg(double value)
        : m_value(value)
    {
    }
    FormatArg(std::string value)
        : m_value(std::move(value))
    {
    }
    FormatArg(std::string_view value)
        : m_value(std::string(value))
    {
    }
    FormatArg(const char* value)
        : m_value(std::string(value ? value : "(null)"))
    {
    }
    FormatArg(const Value& value)
        : m_value(value)
    {
    }

    using Storage = std::variant<std::int64_t, std::uint64_t, double, std::string, Value>;
    const Storage& storage() const { return m_value; }

private:
    Storage m_value;
};

using FormatArgs = std::vector<FormatArg>;

// One conversion of a format string, "%[N$][flags][width][.precision][length]conversion", as the
// formatter and the check of translated formats both read it.
struct FormatDirective {
    // A number, or "*": one taken from an argument, the next or the one "*N$" names.
    struct Amount {
        int number = 0;
        std::optional<std::size_t> argument;
    };
    std::size_t position = 0; // from "N$", counted from 1; 0 when absent
    std::size_t positionDigits = 0;
    std::string flags; // each once; "'" is read and left out
    std::optional<Amount> width;
    std::optional<Amount> precision;
    std::string length;
    std::optional<char> conversion; // absent when the text ends first
};
// Reads the directive at format[i], just after its "%", and moves i past it. Numbers are
// clamped so that hostile widths stay small.
FormatDirective readFormatDirective(std::string_view format, std::size_t& i);

// Formats with the platform's format strings: flags, width, precision ("*" too),
// length modifiers (hh h l ll q z t j L, read and ignored), the conversions
// d i u o x X c C s S @ f F e E g G a A p %, and positional arguments ("%1$@").
// An argument that is not there formats as nothing; an unknown conversion is copied as written.
std::string stringWithFormat(std::string_view format, const FormatArgs& args);

} // namespace vesk::platform
