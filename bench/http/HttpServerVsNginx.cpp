// Runs wrk on 127.0.0.1 against the HTTP server (one route answering 1 KB) and
// against nginx serving a 1 KB file (one worker, then one per core), 32
// keep-alive connections each, and prints requests per second and p99 latency
// side by side. VESK_BENCH_SECONDS sets each run's length (default 10).

#include "common/BenchPeers.h"
#include "http/HttpServer.h"

#include <algorithm>
#include <cstdio>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <optional>
#include <string>
#include <thread>
#include <unistd.h>

using namespace vesk;
using namespace vesk::bench;
namespace fs = std::filesystem;

namespace {

void printRow(const std::string& name, const std::optional<WrkFigures>& figures)
{
    if (!figures) {
        std::printf("%-28s %14s %12s\n", name.c_str(), "failed", "-");
        return;
    }
    std::printf("%-28s %14.0f %10.2fms\n", name.c_str(), figures->requestsPerSecond, figures->p99Milliseconds);
}

} // namespace

int main()
{
    int seconds = runSeconds();
    unsigned cores = std::max(1u, std::thread::hardware_concurrency());

    fs::path folder = makeServedFolder("vesk-bench-http");
    if (folder.empty())
        return 1;
    std::string kilobyte(1024, 'v');
    std::ofstream(folder / "www" / "1k.txt") << kilobyte;

    // The server reports every request line on standard output; keep the
    // table readable by sending those lines to /dev/null.
    std::fflush(stdout);
    int table = ::dup(STDOUT_FILENO);
    int null = ::open("/dev/null", O_WRONLY);
    ::dup2(null, STDOUT_FILENO);
    ::close(null);

    std::optional<WrkFigures> ours, nginxOne, nginxAll;
    {
        HttpServer server;
        server.registerHandler("/", [&](const HttpRequest&) { return HttpResponse::OK(HttpResponseBody::Text(kilobyte)); });
        server.start(freeLoopbackPort(), "127.0.0.1");
        ours = runWrk(server.port(), "/", seconds);
    }
    {
        Nginx nginx(folder, 1);
        nginxOne = runWrk(nginx.port(), "/1k.txt", seconds);
    }
    {
        Nginx nginx(folder, cores);
        nginxAll = runWrk(nginx.port(), "/1k.txt", seconds);
    }

    std::fflush(stdout);
    ::dup2(table, STDOUT_FILENO);
    ::close(table);
    std::printf("wrk, 32 keep-alive connections, %d s per run, 1 KB answers, %u cores\n", seconds, cores);
    std::printf("%-28s %14s %12s\n", "server", "requests/s", "p99");
    printRow("HttpServer", ours);
    printRow("nginx, 1 worker", nginxOne);
    printRow("nginx, " + std::to_string(cores) + " workers", nginxAll);
    if (ours && nginxOne && nginxOne->requestsPerSecond > 0) {
        std::printf("throughput vs nginx (1 worker): %.2fx (target >= 1)\n", ours->requestsPerSecond / nginxOne->requestsPerSecond);
        std::printf("p99 vs nginx (1 worker): %.2fx (target <= 2)\n", ours->p99Milliseconds / std::max(nginxOne->p99Milliseconds, 1e-9));
    }
    fs::remove_all(folder);
    return 0;
}
