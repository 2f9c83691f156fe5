// The HTTP server library against nginx (one worker, then one per core), both serving
// the same 1 KB file from disk: the library through a route that opens the file and
// sends it as a file body, as the web service's raw download does. wrk with keep-alive
// and with "Connection: close", at 32 and 256 connections, three rounds taking the
// servers in turn; requests per second, p99 and server CPU time per request, with the
// ratios' min/median/max. VESK_BENCH_SECONDS sets each run's length (default 10).

#include "common/BenchPeers.h"
#include "http/HttpServer.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

using namespace vesk;
using namespace vesk::bench;

int main()
{
    int seconds = runSeconds();
    unsigned cores = std::max(1u, std::thread::hardware_concurrency());
    raiseDescriptorLimit();

    fs::path folder = makeServedFolder("vesk-bench-http");
    if (folder.empty())
        return 1;
    std::ofstream(folder / "www" / "1k.bin") << std::string(1024, 'v');
    std::string file = (folder / "www" / "1k.bin").string();

    // The server reports every request line on standard output; the table goes
    // to the original standard output, the lines to /dev/null.
    std::fflush(stdout);
    int table = ::dup(STDOUT_FILENO);
    int null = ::open("/dev/null", O_WRONLY);
    ::dup2(null, STDOUT_FILENO);
    ::close(null);
    FILE* out = ::fdopen(table, "w");

    HttpServer server;
    server.registerHandler("/file", [&](const HttpRequest&) {
        int descriptor = ::open(file.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
        struct stat status { };
        if (descriptor < 0 || ::fstat(descriptor, &status) != 0) {
            if (descriptor >= 0)
                ::close(descriptor);
            return HttpResponse::NotFound();
        }
        return HttpResponse::RAW(200, "OK", std::nullopt, std::make_shared<const HttpFileBody>(descriptor, static_cast<uint64_t>(status.st_size)));
    });
    server.start(freeLoopbackPort(), "127.0.0.1");
    Nginx nginxOne(folder, 1);
    Nginx nginxAll(folder, cores);
    pid_t self = ::getpid();
    std::vector<Contender> contenders {
        { "HttpServer", server.port(), "/file", [self] { return cpuSeconds(self); } },
        { "nginx, 1 worker", nginxOne.port(), "/1k.bin", [&] { return cpuSeconds(nginxOne.pid()); } },
        { "nginx, " + std::to_string(cores) + " workers", nginxAll.port(), "/1k.bin", [&] { return cpuSeconds(nginxAll.pid()); } },
    };

    std::fprintf(out, "The HTTP server library and nginx, each serving a 1 KB file from disk\n");
    compareInRounds(contenders, 3, seconds, out);
    server.stop();
    std::fclose(out);
    fs::remove_all(folder);
    return 0;
}
