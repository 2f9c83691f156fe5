#pragma once

// What the side-by-side benchmarks share: loopback ports, child programs
// stopped by their id, nginx serving a folder of ours, and wrk runs.

#include <algorithm>
#include <arpa/inet.h>
#include <chrono>
#include <csignal>
#include <cstdint>
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
#include <utility>
#include <vector>

namespace vesk::bench {

namespace fs = std::filesystem;

// Seconds per wrk run: VESK_BENCH_SECONDS, else 10.
inline int runSeconds()
{
    const char* text = std::getenv("VESK_BENCH_SECONDS");
    return text ? std::max(1, std::atoi(text)) : 10;
}

// A port nobody listens on right now; 0 if none could be had.
inline std::uint16_t freeLoopbackPort()
{
    int fd = ::socket(AF_INET, SOCK_STREAM, 0);
    if (fd < 0)
        return 0;
    sockaddr_in address {};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof address;
    bool bound = ::bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0
        && ::getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length) == 0;
    ::close(fd);
    return bound ? ntohs(address.sin_port) : 0;
}

// A connected socket to 127.0.0.1:port, or -1.
inline int connectTo(std::uint16_t port)
{
    int fd = ::socket(AF_INET, SOCK_STREAM, 0);
    if (fd < 0)
        return -1;
    sockaddr_in address {};
    address.sin_family = AF_INET;
    address.sin_port = htons(port);
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (::connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) {
        ::close(fd);
        return -1;
    }
    return fd;
}

// Up to ten seconds for something to accept on the port.
inline bool waitForListening(std::uint16_t port)
{
    for (int attempt = 0; attempt < 400; ++attempt) {
        int fd = connectTo(port);
        if (fd >= 0) {
            ::close(fd);
            return true;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(25));
    }
    return false;
}

// A folder under /tmp with an empty "www" inside, readable by nginx workers
// (they run as another user); empty if it could not be made.
inline fs::path makeServedFolder(const std::string& name)
{
    std::string pattern = "/tmp/" + name + "-XXXXXX";
    if (!::mkdtemp(pattern.data()))
        return {};
    fs::path folder = pattern;
    fs::permissions(folder, fs::perms::owner_all | fs::perms::group_read | fs::perms::group_exec | fs::perms::others_read | fs::perms::others_exec);
    fs::create_directories(folder / "www");
    return folder;
}

struct WrkFigures {
    double requestsPerSecond { 0 };
    std::string p99; // as wrk prints it, e.g. "1.23ms"
    double p99Milliseconds { 0 };
};

inline double milliseconds(const std::string& text)
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

// wrk with 32 keep-alive connections on http://127.0.0.1:port<path>. wrk's own
// output goes to standard error when it fails, sees errors or counts nothing.
inline std::optional<WrkFigures> runWrk(std::uint16_t port, const std::string& path, int seconds)
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
    WrkFigures figures;
    std::istringstream lines(output);
    bool errors = false;
    for (std::string line; std::getline(lines, line);) {
        std::istringstream words(line);
        std::string first, second;
        words >> first >> second;
        if (first == "Requests/sec:") {
            figures.requestsPerSecond = std::stod(second);
        } else if (first == "99%") {
            figures.p99 = second;
            figures.p99Milliseconds = milliseconds(second);
        } else if (first == "Non-2xx" || first == "Socket") {
            errors = true;
        }
    }
    if (errors || figures.requestsPerSecond == 0)
        std::cerr << output;
    return figures;
}

// A child program of ours with its standard output thrown away; stopped by its id.
class Child {
public:
    Child(std::vector<std::string> arguments, std::vector<std::pair<std::string, std::string>> environment = {})
    {
        m_pid = ::fork();
        if (m_pid == 0) {
            for (auto& [name, value] : environment)
                ::setenv(name.c_str(), value.c_str(), 1);
            int null = ::open("/dev/null", O_WRONLY);
            ::dup2(null, STDOUT_FILENO);
            std::vector<char*> argv;
            for (auto& argument : arguments)
                argv.push_back(argument.data());
            argv.push_back(nullptr);
            ::execvp(argv[0], argv.data());
            std::_Exit(127);
        }
    }
    Child(const Child&) = delete;
    Child& operator=(const Child&) = delete;
    ~Child()
    {
        if (m_pid > 0) {
            ::kill(m_pid, SIGTERM);
            ::waitpid(m_pid, nullptr, 0);
        }
    }
    pid_t pid() const { return m_pid; }

private:
    pid_t m_pid { -1 };
};

// nginx on a free loopback port serving folder/www, its config, pid, log and
// temporary files all inside folder; ready (or reported as not) once made.
class Nginx {
public:
    Nginx(const fs::path& folder, unsigned workers, bool sendfile = false)
        : m_port(freeLoopbackPort())
        , m_child(arguments(folder, workers, sendfile, m_port))
    {
        if (!waitForListening(m_port))
            std::cerr << "nginx did not start\n";
    }
    std::uint16_t port() const { return m_port; }

private:
    static std::vector<std::string> arguments(const fs::path& folder, unsigned workers, bool sendfile, std::uint16_t port)
    {
        fs::path config = folder / ("nginx-" + std::to_string(workers) + ".conf");
        std::ofstream(config) << "worker_processes " << workers << ";\n"
                              << "pid " << (folder / "nginx.pid").string() << ";\n"
                              << "error_log " << (folder / "error.log").string() << ";\n"
                              << "events { worker_connections 1024; }\n"
                              << "http {\n"
                              << "  access_log off;\n"
                              << (sendfile ? "  sendfile on;\n" : "")
                              << "  keepalive_requests 100000000;\n"
                              << "  client_body_temp_path " << (folder / "body").string() << ";\n"
                              << "  proxy_temp_path " << (folder / "proxy").string() << ";\n"
                              << "  fastcgi_temp_path " << (folder / "fastcgi").string() << ";\n"
                              << "  uwsgi_temp_path " << (folder / "uwsgi").string() << ";\n"
                              << "  scgi_temp_path " << (folder / "scgi").string() << ";\n"
                              << "  server {\n"
                              << "    listen 127.0.0.1:" << port << ";\n"
                              << "    root " << (folder / "www").string() << ";\n"
                              << "  }\n"
                              << "}\n";
        return { "nginx", "-p", folder.string() + "/", "-c", config.string(), "-g", "daemon off;" };
    }

    std::uint16_t m_port;
    Child m_child;
};

} // namespace vesk::bench
