// Runs the HTTP library's sample server on 127.0.0.1 until interrupted.
//
//   http-demo [--port N] [folder]
//
// With a folder, /resources/<path> serves its files (byte ranges too) and
// /login its "login.html"; /files/<path> lists folders below the home folder.

#include "http/HttpServer.h"

#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <optional>
#include <string>

namespace {

int usage(const char* program)
{
    std::fprintf(stderr, "usage: %s [--port N] [folder]\n", program);
    return 2;
}

} // namespace

int main(int argc, char** argv)
{
    std::optional<std::string> folder;
    unsigned long port = 8080;
    for (int index = 1; index < argc; ++index) {
        std::string argument = argv[index];
        if (argument == "--port" && index + 1 < argc) {
            char* end = nullptr;
            port = std::strtoul(argv[++index], &end, 10);
            if (*end != '\0' || port > 65535)
                return usage(argv[0]);
        } else if (argument.starts_with("-") || folder) {
            return usage(argv[0]);
        } else {
            folder = argument;
        }
    }

    // Blocked before any server thread starts, so that only sigwait sees them.
    sigset_t signals;
    sigemptyset(&signals);
    sigaddset(&signals, SIGINT);
    sigaddset(&signals, SIGTERM);
    pthread_sigmask(SIG_BLOCK, &signals, nullptr);

    auto server = vesk::HttpServer::makeDemoServer(folder);
    try {
        server->start(static_cast<uint16_t>(port), "127.0.0.1");
    } catch (const std::exception& error) {
        std::fprintf(stderr, "Could not start the server: %s\n", error.what());
        return 1;
    }
    std::printf("Serving on http://127.0.0.1:%u/ (Ctrl-C stops)\n", static_cast<unsigned>(server->port()));
    std::fflush(stdout);
    int received = 0;
    sigwait(&signals, &received);
    server->stop();
    return 0;
}
