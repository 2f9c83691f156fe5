#include "renderer/engine/CSSColors.h"

#include "renderer/engine/HTMLText.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <litehtml/litehtml.h>
#include <vector>

namespace vesk::platform {

namespace {

    struct Number {
        double value = 0;
        std::string unit;
    };

    std::optional<Number> number(std::string_view text)
    {
        if (text == "none")
            return Number {};
        if (!text.empty() && text.front() == '+')
            text.remove_prefix(1);
        Number parsed;
        auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), parsed.value);
        if (error != std::errc() || !std::isfinite(parsed.value))
            return std::nullopt;
        for (auto* c = end; c != text.data() + text.size(); ++c)
            parsed.unit += static_cast<char>(std::tolower(static_cast<unsigned char>(*c)));
        return parsed;
    }

    double channel(double hue, double saturation, double lightness, double n)
    {
        double k = std::fmod(n + hue / 30, 12);
        double a = saturation * std::min(lightness, 1 - lightness);
        return lightness - a * std::max(-1.0, std::min({ k - 3, 9 - k, 1.0 }));
    }

}

std::optional<std::string> rgbaFromHSL(std::string_view color)
{
    while (!color.empty() && isHTMLSpace(color.front()))
        color.remove_prefix(1);
    while (!color.empty() && isHTMLSpace(color.back()))
        color.remove_suffix(1);
    auto open = color.find('(');
    if (open == std::string_view::npos || color.back() != ')')
        return std::nullopt;
    std::string name;
    for (char c : color.substr(0, open))
        name += static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    if (name != "hsl" && name != "hsla")
        return std::nullopt;
    // Its parts, split at commas, spaces and the slash before the alpha.
    std::vector<std::string_view> parts;
    bool slash = false;
    auto inside = color.substr(open + 1, color.size() - open - 2);
    std::size_t start = 0;
    for (std::size_t at = 0; at <= inside.size(); ++at) {
        bool end = at == inside.size();
        char c = end ? ' ' : inside[at];
        if (isHTMLSpace(c) || c == ',' || c == '/') {
            if (at > start)
                parts.push_back(inside.substr(start, at - start));
            if (c == '/') {
                if (slash || parts.size() != 3)
                    return std::nullopt;
                slash = true;
            }
            start = at + 1;
        }
    }
    if (parts.size() != 3 && parts.size() != 4)
        return std::nullopt;
    auto hue = number(parts[0]), saturation = number(parts[1]), lightness = number(parts[2]);
    if (!hue || !saturation || !lightness)
        return std::nullopt;
    double degrees = hue->value;
    if (hue->unit == "rad")
        degrees *= 180 / M_PI;
    else if (hue->unit == "grad")
        degrees *= 0.9;
    else if (hue->unit == "turn")
        degrees *= 360;
    else if (!hue->unit.empty() && hue->unit != "deg")
        return std::nullopt;
    degrees = std::fmod(degrees, 360);
    if (degrees < 0)
        degrees += 360;
    auto fraction = [](const Number& part) { return std::clamp(part.value / 100, 0.0, 1.0); };
    double s = fraction(*saturation), l = fraction(*lightness);
    double alpha = 1;
    if (parts.size() == 4) {
        auto given = number(parts[3]);
        if (!given || (!given->unit.empty() && given->unit != "%"))
            return std::nullopt;
        alpha = std::clamp(given->unit == "%" ? given->value / 100 : given->value, 0.0, 1.0);
    }
    auto byte = [](double value) { return std::to_string(static_cast<int>(std::lround(std::clamp(value, 0.0, 1.0) * 255))); };
    // The alpha as the engine reads it, in thousandths.
    auto thousandths = static_cast<int>(std::lround(alpha * 1000));
    std::string alphaText = std::to_string(thousandths / 1000) + "." + std::to_string(1000 + thousandths % 1000).substr(1);
    return "rgba(" + byte(channel(degrees, s, l, 0)) + ", " + byte(channel(degrees, s, l, 8)) + ", " + byte(channel(degrees, s, l, 4)) + ", " + alphaText + ")";
}

std::optional<std::string> cssFromLegacyColor(std::string_view value)
{
    while (!value.empty() && isHTMLSpace(value.front()))
        value.remove_prefix(1);
    while (!value.empty() && isHTMLSpace(value.back()))
        value.remove_suffix(1);
    std::string lower;
    for (char c : value)
        lower += static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    if (lower.empty() || lower == "transparent")
        return std::nullopt;
    if (std::all_of(lower.begin(), lower.end(), [](char c) { return c >= 'a' && c <= 'z'; }) && !litehtml::web_color::resolve_name(lower.c_str(), nullptr).empty())
        return lower;
    auto hex = [](char c) { return std::isxdigit(static_cast<unsigned char>(c)) != 0; };
    if (lower.size() == 4 && lower[0] == '#' && std::all_of(lower.begin() + 1, lower.end(), hex))
        return std::string { '#', lower[1], lower[1], lower[2], lower[2], lower[3], lower[3] };
    // Characters outside the basic plane count as two digits; the value is read as three
    // parts of hex digits, anything else a zero.
    std::string digits;
    for (std::size_t at = 0; at < lower.size() && digits.size() < 128; ++at) {
        auto byte = static_cast<unsigned char>(lower[at]);
        if (byte >= 0xF0) {
            digits += "00";
            at += 3;
        } else if (byte >= 0x80) {
            digits += '0';
            at += byte >= 0xE0 ? 2 : 1;
        } else {
            digits += hex(lower[at]) ? lower[at] : '0';
        }
    }
    digits.resize(std::min<std::size_t>(digits.size(), 128));
    if (!digits.empty() && lower[0] == '#')
        digits.erase(0, 1);
    if (digits.empty())
        digits = "0";
    while (digits.size() % 3)
        digits += '0';
    auto length = digits.size() / 3;
    std::string parts[3];
    for (int part = 0; part < 3; ++part)
        parts[part] = digits.substr(part * length, length);
    if (length > 8) {
        for (auto& part : parts)
            part = part.substr(part.size() - 8);
        length = 8;
    }
    while (length > 2 && parts[0][0] == '0' && parts[1][0] == '0' && parts[2][0] == '0') {
        for (auto& part : parts)
            part.erase(0, 1);
        --length;
    }
    std::string color = "#";
    for (auto& part : parts)
        color += length == 1 ? "0" + part : part.substr(0, 2);
    return color;
}

}
