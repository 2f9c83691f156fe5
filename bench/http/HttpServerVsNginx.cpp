// Runs wrk on 127.0.0.1 against the HTTP server (one route answering 1 KB) and
// against nginx serving a 1 KB file (one worker, then one per core), 32
// keep-alive connections each, and prints requests per second and p99 latency
// side by side. VESK_BENCH_SECONDS sets each run's length (default 10).

#include "http/HttpServer.h"

#include <arpa/inet.h>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <netinet/in.h>
#include <optional>
#include <sstream>
#include <string>
#include <sys/socket.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

using namespace vesk;
namespace fs = std::filesystem;

namespace {

struct Figures {
    double requestsPerSecond { 0 };
    double p99Milliseconds { 0 };
};

uint16_t freeLoopbackPort()
{
    Socket probe = Socket::makeListeningSocket(0, 1, "127.0.0.1");
    uint16_t port = probe.localPort();
    probe.close();
    return port;
}

double milliseconds(const std::string& text)
{
    double value = std::stod(text);
    if (text.ends_with("us"))
        return value / 1000;
    if (text.ends_with("ms"))
        return value;
    if (text.ends_with("s"))
        return value * 1000;
    return value;
}

std::optional<Figures> runWrk(uint16_t port, const std::string& path, int seconds)
{
    unsigned threads = std::max(1u, std::min(4u, std::thread::hardware_concurrency() / 2));
    std::string command = "wrk -t" + std::to_string(threads) + " -c32 -d" + std::to_string(seconds)
        + "s --latency -H 'Connection: keep-alive' http://127.0.0.1:" + std::to_string(port) + path + " 2>&1";
    FILE* pipe = ::popen(command.c_str(), "r");
    if (!pipe)
        return std::nullopt;
    std::string output;
    char buffer[4096];
    while (size_t count = std::fread(buffer, 1, sizeof buffer, pipe))
        output.append(buffer, count);
    if (::pclose(pipe) != 0) {
        std::cerr << output;
        return std::nullopt;
    }
    Figures figures;
    std::istringstream lines(output);
    for (std::string line; std::getline(lines, line);) {
        std::istringstream words(line);
        std::string first, second;
        words >> first >> second;
        if (first == "Requests/sec:")
            figures.requestsPerSecond = std::stod(second);
        else if (first == "99%")
            figures.p99Milliseconds = milliseconds(second);
    }
    if (figures.requestsPerSecond == 0)
        std::cerr << output;
    return figures;
}

// nginx as a child of ours, in a folder of its own; stopped by its id.
class Nginx {
public:
    Nginx(const fs::path& folder, unsigned workers)
        : m_port(freeLoopbackPort())
    {
        std::ofstream(folder / "nginx.conf") << "worker_processes " << workers << ";\n"
                                             << "pid " << (folder / "nginx.pid").string() << ";\n"
                                             << "error_log " << (folder / "error.log").string() << ";\n"
                                             << "events { worker_connections 1024; }\n"
                                             << "http {\n"
                                             << "  access_log off;\n"
                                             << "  keepalive_requests 100000000;\n"
                                             << "  client_body_temp_path " << (folder / "body").string() << ";\n"
                                             << "  proxy_temp_path " << (folder / "proxy").string() << ";\n"
                                             << "  fastcgi_temp_path " << (folder / "fastcgi").string() << ";\n"
                                             << "  uwsgi_temp_path " << (folder / "uwsgi").string() << ";\n"
                                             << "  scgi_temp_path " << (folder / "scgi").string() << ";\n"
                                             << "  server {\n"
                                             << "    listen 127.0.0.1:" << m_port << ";\n"
                                             << "    root " << (folder / "www").string() << ";\n"
                                             << "  }\n"
                                             << "}\n";
        m_pid = ::fork();
        if (m_pid == 0) {
            std::string config = (folder / "nginx.conf").string();
            std::string prefix = folder.string() + "/";
            ::execlp("nginx", "nginx", "-p", prefix.c_str(), "-c", config.c_str(), "-g", "daemon off;", static_cast<char*>(nullptr));
            std::_Exit(127);
        }
        // Wait until it answers.
        for (int attempt = 0; attempt < 200; ++attempt) {
            int probe = ::socket(AF_INET, SOCK_STREAM, 0);
            sockaddr_in address {};
            address.sin_family = AF_INET;
            address.sin_port = htons(m_port);
            address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
            bool up = ::connect(probe, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0;
            ::close(probe);
            if (up)
                return;
            std::this_thread::sleep_for(std::chrono::milliseconds(25));
        }
        std::cerr << "nginx did not start\n";
    }
    ~Nginx()
    {
        if (m_pid > 0) {
            ::kill(m_pid, SIGTERM);
            ::waitpid(m_pid, nullptr, 0);
        }
    }
    uint16_t port() const { return m_port; }

private:
    uint16_t m_port;
    pid_t m_pid { -1 };
};

void printRow(const std::string& name, const std::optional<Figures>& figures)
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
    int seconds = 10;
    if (const char* text = std::getenv("VESK_BENCH_SECONDS"))
        seconds = std::max(1, std::atoi(text));
    unsigned cores = std::max(1u, std::thread::hardware_concurrency());

    char pattern[] = "/tmp/vesk-bench-http-XXXXXX";
    if (!::mkdtemp(pattern))
        return 1;
    fs::path folder = pattern;
    // nginx workers run as another user and must read the file.
    fs::permissions(folder, fs::perms::owner_all | fs::perms::group_read | fs::perms::group_exec | fs::perms::others_read | fs::perms::others_exec);
    fs::create_directories(folder / "www");
    std::string kilobyte(1024, 'v');
    std::ofstream(folder / "www" / "1k.txt") << kilobyte;

    // The server reports every request line on standard output; keep the
    // table readable by sending those lines to /dev/null.
    std::fflush(stdout);
    int table = ::dup(STDOUT_FILENO);
    int null = ::open("/dev/null", O_WRONLY);
    ::dup2(null, STDOUT_FILENO);
    ::close(null);

    std::optional<Figures> ours, nginxOne, nginxAll;
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
