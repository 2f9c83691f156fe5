#pragma once

// What the side-by-side benchmarks share: loopback ports, child programs
// stopped by their id, nginx serving a folder of ours, wrk runs with the
// server's CPU time, and rounds that alternate the servers.

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
#include <functional>
#include <iostream>
#include <netinet/in.h>
#include <optional>
#include <sstream>
#include <string>
#include <sys/resource.h>
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
    int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
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

// Raises this process's descriptor limit to the hard one; answers the limit.
inline rlim_t raiseDescriptorLimit()
{
    rlimit limit {};
    ::getrlimit(RLIMIT_NOFILE, &limit);
    limit.rlim_cur = limit.rlim_max;
    ::setrlimit(RLIMIT_NOFILE, &limit);
    ::getrlimit(RLIMIT_NOFILE, &limit);
    return limit.rlim_cur;
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

// User plus system seconds of the process and of every process below it.
inline double cpuSeconds(pid_t pid)
{
    double ticks = 0;
    std::ifstream stat("/proc/" + std::to_string(pid) + "/stat");
    std::string text((std::istreambuf_iterator<char>(stat)), {});
    // Fields after the command name, which may hold spaces, start behind its ")".
    std::istringstream fields(text.substr(text.rfind(')') + 2));
    std::string field;
    for (int index = 3; index <= 15 && fields >> field; ++index) {
        if (index == 14 || index == 15)
            ticks += std::stod(field);
    }
    std::ifstream children("/proc/" + std::to_string(pid) + "/task/" + std::to_string(pid) + "/children");
    double seconds = ticks / static_cast<double>(::sysconf(_SC_CLK_TCK));
    for (pid_t child; children >> child;)
        seconds += cpuSeconds(child);
    return seconds;
}

// A "kB" figure of /proc/<pid>/status, or -1.
inline long statusKilobytes(pid_t pid, const std::string& key)
{
    std::ifstream status("/proc/" + std::to_string(pid) + "/status");
    for (std::string line; std::getline(status, line);) {
        if (line.rfind(key + ":", 0) == 0)
            return std::atol(line.c_str() + key.size() + 1);
    }
    return -1;
}

// Starts a new peak for VmHWM.
inline void resetPeakMemory(pid_t pid)
{
    std::ofstream("/proc/" + std::to_string(pid) + "/clear_refs") << "5";
}

struct WrkFigures {
    double requestsPerSecond { 0 };
    double requests { 0 };
    std::string p99; // as wrk prints it, e.g. "1.23ms"
    double p99Milliseconds { 0 };
    // Connections that ended before an answer came: a server that closes without saying so.
    double readErrors { 0 };
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

// What the requests say of the connection: asking for keep-alive, for "Connection: close",
// or nothing, which HTTP/1.1 takes as keep-alive unless the server says it will close.
enum class ConnectionHeader {
    KeepAlive,
    Close,
    None,
};

inline std::string describe(ConnectionHeader header)
{
    switch (header) {
    case ConnectionHeader::KeepAlive:
        return "keep-alive";
    case ConnectionHeader::Close:
        return "Connection: close";
    case ConnectionHeader::None:
        return "no Connection header";
    }
    return {};
}

// wrk on http://127.0.0.1:port<path> with the connections and Connection header given.
// Read errors are counted; other errors and non-2xx answers print wrk's output.
inline std::optional<WrkFigures> runWrk(std::uint16_t port, const std::string& path, int seconds, int connections, ConnectionHeader header)
{
    unsigned threads = std::max(1u, std::min(4u, std::thread::hardware_concurrency() / 2));
    std::string command = "wrk -t" + std::to_string(threads) + " -c" + std::to_string(connections) + " -d" + std::to_string(seconds) + "s --latency "
        + (header == ConnectionHeader::None ? std::string() : "-H 'Connection: " + std::string(header == ConnectionHeader::KeepAlive ? "keep-alive" : "close") + "' ")
        + "'http://127.0.0.1:" + std::to_string(port) + path + "' 2>&1";
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
        std::string first, second, third;
        words >> first >> second >> third;
        if (first == "Requests/sec:") {
            figures.requestsPerSecond = std::stod(second);
        } else if (first == "99%") {
            figures.p99 = second;
            figures.p99Milliseconds = milliseconds(second);
        } else if (second == "requests" && third == "in") {
            figures.requests = std::stod(first);
        } else if (first == "Socket") {
            // "Socket errors: connect 0, read 12, write 0, timeout 0"
            auto read = line.find("read ");
            if (read != std::string::npos)
                figures.readErrors = std::stod(line.substr(read + 5));
            errors = errors || line.find("connect 0,") == std::string::npos || line.find("timeout 0") == std::string::npos;
        } else if (first == "Non-2xx") {
            errors = true;
        }
    }
    if (errors || figures.requestsPerSecond == 0)
        std::cerr << output;
    return figures;
}

inline std::optional<WrkFigures> runWrk(std::uint16_t port, const std::string& path, int seconds, int connections = 32, bool keepAlive = true)
{
    return runWrk(port, path, seconds, connections, keepAlive ? ConnectionHeader::KeepAlive : ConnectionHeader::Close);
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
    // Sends the signal and waits for the program to end.
    void stop(int signal)
    {
        if (m_pid > 0) {
            ::kill(m_pid, signal);
            ::waitpid(m_pid, nullptr, 0);
            m_pid = -1;
        }
    }

private:
    pid_t m_pid { -1 };
};

// nginx on a free loopback port serving folder/www as its users run it for
// static files: sendfile on, no access log; its config, pid, log and temporary
// files all inside folder; ready (or reported as not) once made.
class Nginx {
public:
    Nginx(const fs::path& folder, unsigned workers)
        : m_port(freeLoopbackPort())
        , m_child(arguments(folder, workers, m_port))
    {
        if (!waitForListening(m_port))
            std::cerr << "nginx did not start\n";
    }
    std::uint16_t port() const { return m_port; }
    pid_t pid() const { return m_child.pid(); }

    // The command line of an nginx on the port, for starting one without waiting for it.
    static std::vector<std::string> arguments(const fs::path& folder, unsigned workers, std::uint16_t port)
    {
        fs::path config = folder / ("nginx-" + std::to_string(workers) + ".conf");
        std::string name = "-" + std::to_string(workers);
        std::ofstream(config) << "worker_processes " << workers << ";\n"
                              << "pid " << (folder / ("nginx" + name + ".pid")).string() << ";\n"
                              << "error_log " << (folder / "error.log").string() << ";\n"
                              << "events { worker_connections 10240; }\n"
                              << "http {\n"
                              << "  access_log off;\n"
                              << "  sendfile on;\n"
                              << "  keepalive_requests 100000000;\n"
                              << "  client_body_temp_path " << (folder / ("body" + name)).string() << ";\n"
                              << "  proxy_temp_path " << (folder / ("proxy" + name)).string() << ";\n"
                              << "  fastcgi_temp_path " << (folder / ("fastcgi" + name)).string() << ";\n"
                              << "  uwsgi_temp_path " << (folder / ("uwsgi" + name)).string() << ";\n"
                              << "  scgi_temp_path " << (folder / ("scgi" + name)).string() << ";\n"
                              << "  server {\n"
                              << "    listen 127.0.0.1:" << port << ";\n"
                              << "    root " << (folder / "www").string() << ";\n"
                              << "  }\n"
                              << "}\n";
        return { "nginx", "-p", folder.string() + "/", "-c", config.string(), "-g", "daemon off;" };
    }

private:
    std::uint16_t m_port;
    Child m_child;
};

// One server under wrk: where it answers the file, and how much CPU it has used so far.
struct Contender {
    std::string name;
    std::uint16_t port;
    std::string path;
    std::function<double()> cpuSeconds;
};

struct Measure {
    double requestsPerSecond { 0 };
    double p99Milliseconds { 0 };
    double cpuMicrosecondsPerRequest { 0 };
    double readErrors { 0 };
};

inline Measure measure(const Contender& contender, int seconds, int connections, ConnectionHeader header)
{
    double before = contender.cpuSeconds();
    auto figures = runWrk(contender.port, contender.path, seconds, connections, header);
    double used = contender.cpuSeconds() - before;
    if (!figures || figures->requests <= 0)
        return {};
    return { figures->requestsPerSecond, figures->p99Milliseconds, used * 1e6 / figures->requests, figures->readErrors };
}

struct Spread {
    double low, middle, high;
};

inline Spread spread(std::vector<double> values)
{
    std::sort(values.begin(), values.end());
    if (values.empty())
        return { 0, 0, 0 };
    return { values.front(), values[values.size() / 2], values.back() };
}

// One shape of load: the first contender's requests carry `ours`, the others' `theirs`.
struct Scenario {
    int connections;
    ConnectionHeader ours;
    ConnectionHeader theirs;
};

inline const std::vector<Scenario> standardScenarios {
    { 32, ConnectionHeader::KeepAlive, ConnectionHeader::KeepAlive },
    { 256, ConnectionHeader::KeepAlive, ConnectionHeader::KeepAlive },
    // Clients that say nothing of the connection, against the other server's cost of closing.
    { 256, ConnectionHeader::None, ConnectionHeader::Close },
    { 32, ConnectionHeader::Close, ConnectionHeader::Close },
    { 256, ConnectionHeader::Close, ConnectionHeader::Close },
};

// The first contender against each other one, scenario by scenario, in rounds that take the
// contenders in turn (every other round in reverse order); prints each figure's median and
// each ratio's min/median/max over the rounds.
inline void compareInRounds(const std::vector<Contender>& contenders, int rounds, int seconds, FILE* out = stdout,
    const std::vector<Scenario>& scenarios = standardScenarios)
{
    // results[scenario][contender][round]
    std::vector<std::vector<std::vector<Measure>>> results(scenarios.size(), std::vector<std::vector<Measure>>(contenders.size()));
    for (int round = 0; round < rounds; ++round) {
        for (size_t scenario = 0; scenario < scenarios.size(); ++scenario) {
            for (size_t turn = 0; turn < contenders.size(); ++turn) {
                size_t index = round % 2 ? contenders.size() - 1 - turn : turn;
                auto& shape = scenarios[scenario];
                results[scenario][index].push_back(measure(contenders[index], seconds, shape.connections, index ? shape.theirs : shape.ours));
            }
        }
    }
    auto pick = [](const std::vector<Measure>& measures, double Measure::*field) {
        std::vector<double> values;
        for (auto& one : measures)
            values.push_back(one.*field);
        return values;
    };
    std::fprintf(out, "wrk -t%u, %d s per run, %d rounds taking the servers in turn, %u cores\n",
        std::max(1u, std::min(4u, std::thread::hardware_concurrency() / 2)), seconds, rounds, std::thread::hardware_concurrency());
    for (size_t scenario = 0; scenario < scenarios.size(); ++scenario) {
        auto& shape = scenarios[scenario];
        std::string what = describe(shape.ours);
        if (shape.theirs != shape.ours)
            what += " (the others: " + describe(shape.theirs) + ")";
        std::fprintf(out, "\n%s, %d connections (medians)\n", what.c_str(), shape.connections);
        std::fprintf(out, "  %-26s %12s %10s %14s %12s\n", "server", "requests/s", "p99 ms", "CPU us/request", "read errors");
        for (size_t index = 0; index < contenders.size(); ++index) {
            auto& measures = results[scenario][index];
            std::fprintf(out, "  %-26s %12.0f %10.2f %14.1f %12.0f\n", contenders[index].name.c_str(), spread(pick(measures, &Measure::requestsPerSecond)).middle,
                spread(pick(measures, &Measure::p99Milliseconds)).middle, spread(pick(measures, &Measure::cpuMicrosecondsPerRequest)).middle,
                spread(pick(measures, &Measure::readErrors)).middle);
        }
        for (size_t index = 1; index < contenders.size(); ++index) {
            std::vector<double> rps, p99, cpu;
            for (int round = 0; round < rounds; ++round) {
                auto& ours = results[scenario][0][round];
                auto& theirs = results[scenario][index][round];
                rps.push_back(theirs.requestsPerSecond > 0 ? ours.requestsPerSecond / theirs.requestsPerSecond : 0);
                p99.push_back(theirs.p99Milliseconds > 0 ? ours.p99Milliseconds / theirs.p99Milliseconds : 0);
                cpu.push_back(theirs.cpuMicrosecondsPerRequest > 0 ? ours.cpuMicrosecondsPerRequest / theirs.cpuMicrosecondsPerRequest : 0);
            }
            auto show = [out](const char* what, Spread s) { std::fprintf(out, " %s %.2f/%.2f/%.2fx", what, s.low, s.middle, s.high); };
            std::fprintf(out, "  %s / %s (min/median/max):", contenders[0].name.c_str(), contenders[index].name.c_str());
            show("requests/s", spread(rps));
            show("p99", spread(p99));
            show("CPU/request", spread(cpu));
            std::fprintf(out, " read errors max %.0f\n", spread(pick(results[scenario][0], &Measure::readErrors)).high);
        }
    }
    std::fprintf(out, "\ntargets against nginx with a worker per core: keep-alive requests/s min >= 1.0x and median >= 1.1x, CPU/request <= 1.0x;"
                      " no Connection header: no read errors, CPU/request <= 1.3x of nginx's with \"Connection: close\";"
                      " \"Connection: close\" requests/s median >= 0.9x\n");
}

} // namespace vesk::bench
