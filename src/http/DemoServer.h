#pragma once

#include "http/HttpServer.h"

#include <memory>
#include <optional>
#include <string>

namespace vesk {

// A sample server with one route for each kind of answer the library gives,
// and "/" listing them all. "/resources/" serves the folder's files when a
// folder is given, "/login" its "login.html". The server is not started.
std::unique_ptr<HttpServer> makeDemoServer(const std::optional<std::string>& folder = std::nullopt);

} // namespace vesk
