#include "platform/foundation/NSString.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <pwd.h>
#include <unistd.h>

namespace vesk::platform {

namespace {

    // Collapses repeated "/" and drops a trailing one, keeping the root "/".
    std::string standardizeSlashes(std::string_view path)
    {
        std::string result;
        result.reserve(path.size());
        for (char c : path) {
            if (c == '/' && !result.empty() && result.back() == '/')
                continue;
            result += c;
        }
        if (result.size() > 1 && result.back() == '/')
            result.pop_back();
        return result;
    }

    // Where the extension's "." stands in the last component, or npos. A name whose
    // only "." leads it (".profile") has no extension.
    std::size_t extensionDot(const std::string& standardized)
    {
        auto nameStart = standardized.find_last_of('/');
        nameStart = nameStart == std::string::npos ? 0 : nameStart + 1;
        auto dot = standardized.find_last_of('.');
        if (dot == std::string::npos || dot <= nameStart || dot + 1 >= standardized.size())
            return std::string::npos;
        return dot;
    }

    std::string homeOfUser(const char* name)
    {
        long size = sysconf(_SC_GETPW_R_SIZE_MAX);
        std::vector<char> buffer(size > 0 ? static_cast<std::size_t>(size) : 16384);
        struct passwd entry { };
        struct passwd* found = nullptr;
        int status = name ? getpwnam_r(name, &entry, buffer.data(), buffer.size(), &found)
                          : getpwuid_r(getuid(), &entry, buffer.data(), buffer.size(), &found);
        if (status != 0 || !found || !found->pw_dir)
            return {};
        return found->pw_dir;
    }

}

std::vector<std::string> pathComponents(std::string_view path)
{
    std::vector<std::string> components;
    if (path.empty())
        return components;
    if (path.front() == '/')
        components.emplace_back("/");
    std::size_t start = 0;
    while (start < path.size()) {
        auto slash = path.find('/', start);
        auto end = slash == std::string_view::npos ? path.size() : slash;
        if (end > start)
            components.emplace_back(path.substr(start, end - start));
        if (slash == std::string_view::npos)
            break;
        start = slash + 1;
    }
    if (path.size() > 1 && path.back() == '/')
        components.emplace_back("/");
    return components;
}

std::string lastPathComponent(std::string_view path)
{
    auto standardized = standardizeSlashes(path);
    if (standardized == "/")
        return standardized;
    auto slash = standardized.find_last_of('/');
    return slash == std::string::npos ? standardized : standardized.substr(slash + 1);
}

std::string stringByAppendingPathComponent(std::string_view path, std::string_view component)
{
    std::string joined(path);
    if (!joined.empty() && !component.empty())
        joined += '/';
    joined += component;
    return standardizeSlashes(joined);
}

std::string stringByDeletingLastPathComponent(std::string_view path)
{
    auto standardized = standardizeSlashes(path);
    auto slash = standardized.find_last_of('/');
    if (slash == std::string::npos)
        return {};
    if (slash == 0)
        return "/";
    return standardized.substr(0, slash);
}

std::string pathExtension(std::string_view path)
{
    auto standardized = standardizeSlashes(path);
    auto dot = extensionDot(standardized);
    return dot == std::string::npos ? std::string {} : standardized.substr(dot + 1);
}

std::string stringByDeletingPathExtension(std::string_view path)
{
    auto standardized = standardizeSlashes(path);
    auto dot = extensionDot(standardized);
    return dot == std::string::npos ? standardized : standardized.substr(0, dot);
}

std::optional<std::string> stringByAppendingPathExtension(std::string_view path, std::string_view extension)
{
    auto standardized = standardizeSlashes(path);
    if (standardized.empty() || standardized == "/" || standardized.back() == '~' || extension.find('/') != std::string_view::npos)
        return std::nullopt;
    standardized += '.';
    standardized += extension;
    return standardized;
}

bool isAbsolutePath(std::string_view path)
{
    return !path.empty() && (path.front() == '/' || path.front() == '~');
}

std::string expandingTildeInPath(std::string_view path)
{
    if (path.empty() || path.front() != '~')
        return std::string(path);
    auto slash = path.find('/');
    auto user = path.substr(1, slash == std::string_view::npos ? std::string_view::npos : slash - 1);
    std::string home;
    if (user.empty()) {
        const char* env = std::getenv("HOME");
        home = env && *env ? env : homeOfUser(nullptr);
    } else {
        home = homeOfUser(std::string(user).c_str());
    }
    if (home.empty())
        return std::string(path);
    std::string rest = slash == std::string_view::npos ? std::string {} : std::string(path.substr(slash));
    return standardizeSlashes(home + rest);
}

std::string utf8Encoded(std::uint32_t codePoint)
{
    std::string out;
    if (codePoint > 0x10FFFF || (codePoint >= 0xD800 && codePoint <= 0xDFFF))
        codePoint = 0xFFFD;
    if (codePoint < 0x80) {
        out += static_cast<char>(codePoint);
    } else if (codePoint < 0x800) {
        out += static_cast<char>(0xC0 | (codePoint >> 6));
        out += static_cast<char>(0x80 | (codePoint & 0x3F));
    } else if (codePoint < 0x10000) {
        out += static_cast<char>(0xE0 | (codePoint >> 12));
        out += static_cast<char>(0x80 | ((codePoint >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (codePoint & 0x3F));
    } else {
        out += static_cast<char>(0xF0 | (codePoint >> 18));
        out += static_cast<char>(0x80 | ((codePoint >> 12) & 0x3F));
        out += static_cast<char>(0x80 | ((codePoint >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (codePoint & 0x3F));
    }
    return out;
}

int hexDigitValue(char character)
{
    if (character >= '0' && character <= '9')
        return character - '0';
    if (character >= 'a' && character <= 'f')
        return character - 'a' + 10;
    if (character >= 'A' && character <= 'F')
        return character - 'A' + 10;
    return -1;
}

bool isValidUTF8(std::string_view text)
{
    std::size_t i = 0;
    auto const* bytes = reinterpret_cast<const unsigned char*>(text.data());
    while (i < text.size()) {
        unsigned char c = bytes[i];
        std::size_t length;
        std::uint32_t codePoint;
        if (c < 0x80) {
            ++i;
            continue;
        } else if ((c & 0xE0) == 0xC0) {
            length = 2;
            codePoint = c & 0x1F;
        } else if ((c & 0xF0) == 0xE0) {
            length = 3;
            codePoint = c & 0x0F;
        } else if ((c & 0xF8) == 0xF0) {
            length = 4;
            codePoint = c & 0x07;
        } else {
            return false;
        }
        if (i + length > text.size())
            return false;
        for (std::size_t j = 1; j < length; ++j) {
            if ((bytes[i + j] & 0xC0) != 0x80)
                return false;
            codePoint = (codePoint << 6) | (bytes[i + j] & 0x3F);
        }
        // Overlong forms, surrogates and values past U+10FFFF are not UTF-8.
        static constexpr std::uint32_t smallest[] = { 0, 0, 0x80, 0x800, 0x10000 };
        if (codePoint < smallest[length] || codePoint > 0x10FFFF || (codePoint >= 0xD800 && codePoint <= 0xDFFF))
            return false;
        i += length;
    }
    return true;
}

Bytes toData(std::string_view text)
{
    if (!isValidUTF8(text))
        text = "Error!";
    return Bytes(text.begin(), text.end());
}

std::optional<std::string> stringFromUTF8Data(const Bytes& data)
{
    std::string text(data.begin(), data.end());
    if (!isValidUTF8(text))
        return std::nullopt;
    return text;
}

// Format engine.

namespace {

    constexpr int maxWidth = 4096;

    struct Spec {
        std::string flags;
        std::optional<int> width;
        std::optional<int> precision;
        std::string length;
        char conversion { 0 };
    };

    std::optional<std::int64_t> asSigned(const FormatArg& arg)
    {
        auto const& storage = arg.storage();
        if (auto const* v = std::get_if<std::int64_t>(&storage))
            return *v;
        if (auto const* v = std::get_if<std::uint64_t>(&storage))
            return static_cast<std::int64_t>(*v);
        if (auto const* v = std::get_if<double>(&storage))
            return Value(*v).integerValue();
        if (auto const* v = std::get_if<Value>(&storage)) {
            if (auto flag = v->boolValue())
                return *flag ? 1 : 0;
            return v->integerValue();
        }
        return std::nullopt;
    }

    std::optional<double> asReal(const FormatArg& arg)
    {
        auto const& storage = arg.storage();
        if (auto const* v = std::get_if<double>(&storage))
            return *v;
        if (auto const* v = std::get_if<std::int64_t>(&storage))
            return static_cast<double>(*v);
        if (auto const* v = std::get_if<std::uint64_t>(&storage))
            return static_cast<double>(*v);
        if (auto const* v = std::get_if<Value>(&storage))
            return v->realValue();
        return std::nullopt;
    }

    std::optional<std::string> asText(const FormatArg& arg)
    {
        auto const& storage = arg.storage();
        if (auto const* v = std::get_if<std::string>(&storage))
            return *v;
        if (auto const* v = std::get_if<Value>(&storage)) {
            if (auto const* text = v->string())
                return *text;
        }
        return std::nullopt;
    }

    std::string describe(const FormatArg& arg)
    {
        auto const& storage = arg.storage();
        if (auto const* v = std::get_if<std::string>(&storage))
            return *v;
        if (auto const* v = std::get_if<std::int64_t>(&storage))
            return std::to_string(*v);
        if (auto const* v = std::get_if<std::uint64_t>(&storage))
            return std::to_string(*v);
        if (auto const* v = std::get_if<double>(&storage))
            return Value(*v).description();
        return std::get<Value>(storage).description();
    }

    // Builds a printf conversion from parts we checked ourselves, so the
    // argument always matches what the conversion reads.
    template<typename T>
    std::string printfFormat(const Spec& spec, std::string_view length, char conversion, T value)
    {
        std::string format = "%" + spec.flags;
        if (spec.width)
            format += std::to_string(*spec.width);
        if (spec.precision)
            format += "." + std::to_string(*spec.precision);
        format += length;
        format += conversion;
        int needed = std::snprintf(nullptr, 0, format.c_str(), value);
        if (needed <= 0)
            return {};
        std::string out(static_cast<std::size_t>(needed) + 1, '\0');
        std::snprintf(out.data(), out.size(), format.c_str(), value);
        out.resize(static_cast<std::size_t>(needed));
        return out;
    }

    std::string pad(std::string text, const Spec& spec)
    {
        if (spec.width && text.size() < static_cast<std::size_t>(*spec.width)) {
            auto fill = static_cast<std::size_t>(*spec.width) - text.size();
            if (spec.flags.find('-') != std::string::npos)
                text.append(fill, ' ');
            else
                text.insert(0, fill, ' ');
        }
        return text;
    }

    std::int64_t truncateSigned(std::int64_t value, std::string_view length)
    {
        if (length == "hh")
            return static_cast<signed char>(value);
        if (length == "h")
            return static_cast<short>(value);
        if (length.empty())
            return static_cast<int>(value);
        return value;
    }

    std::uint64_t truncateUnsigned(std::uint64_t value, std::string_view length)
    {
        if (length == "hh")
            return static_cast<unsigned char>(value);
        if (length == "h")
            return static_cast<unsigned short>(value);
        if (length.empty())
            return static_cast<unsigned>(value);
        return value;
    }

    std::string convert(const Spec& spec, const FormatArg* arg)
    {
        if (!arg)
            return {};
        switch (spec.conversion) {
        case 'd':
        case 'i': {
            auto value = asSigned(*arg);
            if (!value)
                return {};
            return printfFormat(spec, "ll", 'd', static_cast<long long>(truncateSigned(*value, spec.length)));
        }
        case 'u':
        case 'o':
        case 'x':
        case 'X': {
            auto value = asSigned(*arg);
            if (!value)
                return {};
            auto bits = truncateUnsigned(static_cast<std::uint64_t>(*value), spec.length);
            return printfFormat(spec, "ll", spec.conversion, static_cast<unsigned long long>(bits));
        }
        case 'p': {
            auto value = asSigned(*arg);
            if (!value)
                return {};
            Spec hex = spec;
            hex.flags += '#';
            return printfFormat(hex, "ll", 'x', static_cast<unsigned long long>(*value));
        }
        case 'f':
        case 'F':
        case 'e':
        case 'E':
        case 'g':
        case 'G':
        case 'a':
        case 'A': {
            auto value = asReal(*arg);
            if (!value)
                return {};
            return printfFormat(spec, "", spec.conversion, *value);
        }
        case 'c':
        case 'C': {
            auto value = asSigned(*arg);
            if (!value)
                return {};
            auto codePoint = spec.conversion == 'c' ? static_cast<std::uint32_t>(static_cast<unsigned char>(*value))
                                                    : static_cast<std::uint32_t>(*value & 0x1FFFFF);
            return pad(utf8Encoded(codePoint), spec);
        }
        case 's':
        case 'S': {
            auto text = asText(*arg);
            if (!text)
                return {};
            if (spec.precision && static_cast<std::size_t>(*spec.precision) < text->size())
                text->resize(static_cast<std::size_t>(*spec.precision));
            return pad(*text, spec);
        }
        case '@':
            return pad(describe(*arg), spec);
        default:
            return {};
        }
    }

    bool isDigit(char c)
    {
        return c >= '0' && c <= '9';
    }

    int readNumber(std::string_view format, std::size_t& i)
    {
        long long number = 0;
        while (i < format.size() && isDigit(format[i])) {
            number = std::min<long long>(number * 10 + (format[i] - '0'), 1000000);
            ++i;
        }
        return static_cast<int>(number);
    }

    // "N$" right after a "%" or "*": the position, counted from 1; 0 when absent.
    std::size_t readPosition(std::string_view format, std::size_t& i)
    {
        std::size_t j = i;
        int number = readNumber(format, j);
        if (j > i && j < format.size() && format[j] == '$' && number > 0) {
            i = j + 1;
            return static_cast<std::size_t>(number);
        }
        return 0;
    }

    FormatDirective::Amount readAmount(std::string_view format, std::size_t& i)
    {
        if (i < format.size() && format[i] == '*')
            return { 0, readPosition(format, ++i) };
        return { readNumber(format, i), std::nullopt };
    }

}

FormatDirective readFormatDirective(std::string_view format, std::size_t& i)
{
    FormatDirective directive;
    auto start = i;
    directive.position = readPosition(format, i);
    directive.positionDigits = directive.position ? i - start - 1 : 0;
    while (i < format.size() && std::string_view("-+ #0'").find(format[i]) != std::string_view::npos) {
        if (format[i] != '\'' && directive.flags.find(format[i]) == std::string::npos)
            directive.flags += format[i];
        ++i;
    }
    if (i < format.size() && (format[i] == '*' || isDigit(format[i])))
        directive.width = readAmount(format, i);
    if (i < format.size() && format[i] == '.') {
        ++i;
        directive.precision = readAmount(format, i);
    }
    while (i < format.size() && std::string_view("hlqLzjt").find(format[i]) != std::string_view::npos)
        directive.length += format[i++];
    if (i < format.size())
        directive.conversion = format[i++];
    return directive;
}

std::string stringWithFormat(std::string_view format, const FormatArgs& args)
{
    std::string out;
    std::size_t nextArg = 0;
    auto argAt = [&](std::size_t index) -> const FormatArg* { return index < args.size() ? &args[index] : nullptr; };
    // A width or precision: clamped; one from an argument takes it in turn, before the value's.
    auto amountOf = [&](const FormatDirective::Amount& amount) -> std::optional<int> {
        if (!amount.argument)
            return std::min(amount.number, maxWidth);
        auto const* arg = *amount.argument ? argAt(*amount.argument - 1) : argAt(nextArg++);
        auto value = arg ? asSigned(*arg) : std::nullopt;
        if (!value)
            return std::nullopt;
        return static_cast<int>(std::clamp<std::int64_t>(*value, -maxWidth, maxWidth));
    };

    std::size_t i = 0;
    while (i < format.size()) {
        char c = format[i];
        if (c != '%') {
            out += c;
            ++i;
            continue;
        }
        std::size_t start = i++;
        if (i < format.size() && format[i] == '%') {
            out += '%';
            ++i;
            continue;
        }
        auto directive = readFormatDirective(format, i);
        Spec spec { directive.flags, std::nullopt, std::nullopt, directive.length };
        if (directive.width) {
            spec.width = amountOf(*directive.width);
            if (spec.width && *spec.width < 0) {
                spec.flags += '-';
                spec.width = -*spec.width;
            }
        }
        if (directive.precision) {
            spec.precision = amountOf(*directive.precision);
            if (spec.precision && *spec.precision < 0)
                spec.precision.reset();
        }
        if (spec.length == "q" || spec.length == "z" || spec.length == "j" || spec.length == "t")
            spec.length = "ll";
        if (!directive.conversion) {
            out.append(format.substr(start));
            break;
        }
        spec.conversion = *directive.conversion;
        if (std::string_view("diuoxXpfFeEgGaAcCsS@").find(spec.conversion) == std::string_view::npos) {
            // Unknown (and "%n", which would write to memory): copied as written.
            out.append(format.substr(start, i - start));
            continue;
        }
        auto const* arg = directive.position ? argAt(directive.position - 1) : argAt(nextArg++);
        out += convert(spec, arg);
    }
    return out;
}

} // namespace vesk::platform
