#pragma once

#include <cstddef>
#include <functional>
#include <optional>
#include <string>
#include <string_view>

namespace vesk::platform {

// A URL, made for file URLs: "file://" followed by the percent-encoded absolute path.
class NSURL {
public:
    // A relative path is taken against the current folder; the URL ends in "/"
    // when the path names an existing folder (links followed).
    static NSURL fileURLWithPath(std::string_view path);
    static NSURL fileURLWithPath(std::string_view path, bool isDirectory);
    // Absent when the text holds characters a URL may not hold (spaces, controls,
    // non-ASCII), a broken percent escape, or an escaped NUL in the path.
    static std::optional<NSURL> URLWithString(std::string_view text);

    const std::string& absoluteString() const { return m_absolute; }
    const std::string& scheme() const { return m_scheme; }
    // The host alone, without user, port or IPv6 brackets.
    const std::string& host() const { return m_host; }
    bool isFileURL() const { return m_scheme == "file"; }
    // The percent-decoded path, without a trailing "/" (except the root).
    std::string path() const;
    bool hasDirectoryPath() const;
    std::string lastPathComponent() const;
    std::string pathExtension() const;
    std::optional<std::string> query() const;
    std::optional<std::string> fragment() const;

    // Equal when the absolute strings are equal.
    bool operator==(const NSURL& other) const { return m_absolute == other.m_absolute; }
    std::size_t hash() const { return std::hash<std::string> {}(m_absolute); }

private:
    NSURL() = default;

    std::string m_absolute;
    std::string m_scheme;
    std::string m_host;
    std::string m_encodedPath;
    std::optional<std::string> m_query;
    std::optional<std::string> m_fragment;
};

// Percent-encodes a path for a URL: keeps unreserved characters and "/" and
// the sub-delimiters the platform keeps in paths; spaces become %20, other bytes %XX.
std::string percentEncodePath(std::string_view path);
// Escapes every byte a URL may not hold as it is (spaces, quotes, controls, non-ASCII);
// escapes already there are kept.
std::string percentEncodeURLText(std::string_view text);
// Absent when an escape is broken ("%" not followed by two hex digits).
std::optional<std::string> percentDecode(std::string_view text);

} // namespace vesk::platform

template<>
struct std::hash<vesk::platform::NSURL> {
    std::size_t operator()(const vesk::platform::NSURL& url) const noexcept { return url.hash(); }
};
