#pragma once

#include "http/HttpResponse.h"

#include <cstddef>
#include <optional>
#include <string>

namespace vesk {

// Files above this size are not answered as Base64: the text and its JSON copies would
// hold several times the file in memory.
inline constexpr std::size_t maxBase64FileSize = 32 * 1024 * 1024;

// A 200 "OK" answer whose body is the regular file's bytes, sent from the file as the
// connection takes them; absent when the path names no readable regular file.
std::optional<HttpResponse> rawFileResponse(const std::string& path);

}
