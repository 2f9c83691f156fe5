// Runs, in one go, the `vesk` program's web file service side by side with nginx on 127.0.0.1:
//  - wrk, 32 keep-alive connections, on "/main.css" (nginx with one worker, then one per core);
//  - a 1 GB download through "/getFile?path=...&type=raw" and through nginx, read to nowhere;
//  - the growth of vesk's resident memory during its download.
// VESK_BENCH_SECONDS sets each wrk run's length (default 10).

#include <arpa/inet.h>
#include <atomic>
#include <chrono>
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
#include <vector>

namespace fs = std::filesystem;

namespace {

constexpr std::uint64_t downloadBytes = 1ull << 30;

std::uint16_t freeLoopbackPort()
{
    int fd = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address {};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof address;
    ::bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address);
    ::getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length);
    ::close(fd);
    return ntohs(address.sin_port);
}

int connectTo(std::uint16_t port)
{
    int fd = ::socket(AF_INET, SOCK_STREAM, 0);
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

bool waitForListening(std::uint16_t port)
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

struct WrkFigures {
    double requestsPerSecond { 0 };
    std::string p99;
};

std::optional<WrkFigures> runWrk(std::uint16_t port, const std::string& path, int seconds)
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
        if (first == "Requests/sec:")
            figures.requestsPerSecond = std::stod(second);
        else if (first == "99%")
            figures.p99 = second;
        else if (first == "Non-2xx" || first == "Socket")
            errors = true;
    }
    if (errors || figures.requestsPerSecond == 0)
        std::cerr << output;
    return figures;
}

// One GET read to nowhere: bytes of the body and seconds taken.
struct Download {
    std::uint64_t bytes { 0 };
    double seconds { 0 };
    bool complete { false };
};

Download download(std::uint16_t port, const std::string& target)
{
    Download result;
    int fd = connectTo(port);
    if (fd < 0)
        return result;
    std::string request = "GET " + target + " HTTP/1.1\r\nHost: 127.0.0.1\r\nConnection: close\r\n\r\n";
    auto began = std::chrono::steady_clock::now();
    if (::send(fd, request.data(), request.size(), MSG_NOSIGNAL) != static_cast<ssize_t>(request.size())) {
        ::close(fd);
        return result;
    }
    std::vector<char> buffer(1 << 20);
    std::string head;
    std::optional<std::uint64_t> length;
    for (;;) {
        ssize_t count = ::recv(fd, buffer.data(), buffer.size(), 0);
        if (count <= 0)
            break;
        if (!length) {
            head.append(buffer.data(), static_cast<size_t>(count));
            auto end = head.find("\r\n\r\n");
            if (end == std::string::npos)
                continue;
            auto at = head.find("Content-Length: ");
            if (at == std::string::npos)
                at = head.find("content-length: ");
            length = at == std::string::npos ? 0 : std::stoull(head.substr(at + 16));
            result.bytes = head.size() - (end + 4);
        } else {
            result.bytes += static_cast<std::uint64_t>(count);
        }
        if (length && result.bytes >= *length)
            break;
    }
    result.seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - began).count();
    result.complete = length && result.bytes == *length;
    ::close(fd);
    return result;
}

// A "kB" figure of /proc/<pid>/status.
long statusKilobytes(pid_t pid, const std::string& key)
{
    std::ifstream status("/proc/" + std::to_string(pid) + "/status");
    for (std::string line; std::getline(status, line);) {
        if (line.rfind(key + ":", 0) == 0)
            return std::atol(line.c_str() + key.size() + 1);
    }
    return -1;
}

// A child program of ours, stopped by its id.
class Child {
public:
    Child(std::vector<std::string> arguments, std::vector<std::pair<std::string, std::string>> environment)
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

std::unique_ptr<Child> startNginx(const fs::path& folder, unsigned workers, std::uint16_t port)
{
    fs::path config = folder / ("nginx-" + std::to_string(workers) + ".conf");
    std::ofstream(config) << "worker_processes " << workers << ";\n"
                          << "pid " << (folder / "nginx.pid").string() << ";\n"
                          << "error_log " << (folder / "error.log").string() << ";\n"
                          << "events { worker_connections 1024; }\n"
                          << "http {\n"
                          << "  access_log off;\n"
                          << "  sendfile on;\n"
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
    auto child = std::make_unique<Child>(std::vector<std::string> { "nginx", "-p", folder.string() + "/", "-c", config.string(), "-g", "daemon off;" },
        std::vector<std::pair<std::string, std::string>> {});
    if (!waitForListening(port))
        std::cerr << "nginx did not start\n";
    return child;
}

void printWrk(const std::string& name, const std::optional<WrkFigures>& figures)
{
    if (!figures)
        std::printf("%-30s %14s %12s\n", name.c_str(), "failed", "-");
    else
        std::printf("%-30s %14.0f %12s\n", name.c_str(), figures->requestsPerSecond, figures->p99.c_str());
}

double megabytesPerSecond(const Download& download)
{
    return download.seconds > 0 ? download.bytes / 1e6 / download.seconds : 0;
}

}

int main()
{
    int seconds = 10;
    if (const char* text = std::getenv("VESK_BENCH_SECONDS"))
        seconds = std::max(1, std::atoi(text));
    unsigned cores = std::max(1u, std::thread::hardware_concurrency());

    char pattern[] = "/tmp/vesk-bench-web-XXXXXX";
    if (!::mkdtemp(pattern))
        return 1;
    fs::path folder = pattern;
    // nginx workers run as another user and must read the files.
    fs::permissions(folder, fs::perms::owner_all | fs::perms::group_read | fs::perms::group_exec | fs::perms::others_read | fs::perms::others_exec);
    fs::create_directories(folder / "www");
    fs::copy_file(fs::path(VESK_BUNDLE_DIR) / "web" / "main.css", folder / "www" / "main.css");
    fs::path big = folder / "www" / "big.bin";
    {
        // Real bytes on disk, so both servers read the same page-cache contents.
        std::ofstream out(big, std::ios::binary);
        std::vector<char> block(1 << 20);
        for (size_t i = 0; i < block.size(); ++i)
            block[i] = static_cast<char>((i * 2654435761u) >> 13);
        for (std::uint64_t written = 0; written < downloadBytes; written += block.size())
            out.write(block.data(), static_cast<std::streamsize>(block.size()));
    }

    std::uint16_t veskPort = freeLoopbackPort();
    std::optional<WrkFigures> veskCss, nginxOneCss, nginxAllCss;
    Download veskDownload, nginxDownload;
    long rssBefore = -1, rssPeak = -1;
    {
        Child vesk({ VESK_PROGRAM, "--quick-action", "fileserver" },
            { { "VESK_HOME", (folder / "home").string() }, { "VESK_WIFI_INTERFACE", "lo" }, { "VESK_PORT", std::to_string(veskPort) },
                { "VESK_BUNDLE", VESK_BUNDLE_DIR } });
        if (!waitForListening(veskPort)) {
            std::cerr << "vesk did not start\n";
            return 1;
        }
        veskCss = runWrk(veskPort, "/main.css", seconds);

        rssBefore = statusKilobytes(vesk.pid(), "VmRSS");
        std::atomic<bool> downloading { true };
        std::atomic<long> peak { rssBefore };
        std::thread sampler([&] {
            while (downloading) {
                long now = statusKilobytes(vesk.pid(), "VmRSS");
                if (now > peak)
                    peak = now;
                std::this_thread::sleep_for(std::chrono::milliseconds(5));
            }
        });
        veskDownload = download(veskPort, "/getFile?path=" + big.string() + "&type=raw");
        downloading = false;
        sampler.join();
        rssPeak = std::max<long>(peak, statusKilobytes(vesk.pid(), "VmRSS"));
    }
    {
        std::uint16_t port = freeLoopbackPort();
        auto nginx = startNginx(folder, 1, port);
        nginxOneCss = runWrk(port, "/main.css", seconds);
        nginxDownload = download(port, "/big.bin");
    }
    {
        std::uint16_t port = freeLoopbackPort();
        auto nginx = startNginx(folder, cores, port);
        nginxAllCss = runWrk(port, "/main.css", seconds);
    }

    std::printf("wrk, 32 keep-alive connections, %d s per run, GET /main.css, %u cores\n", seconds, cores);
    std::printf("%-30s %14s %12s\n", "server", "requests/s", "p99");
    printWrk("vesk", veskCss);
    printWrk("nginx, 1 worker", nginxOneCss);
    printWrk("nginx, " + std::to_string(cores) + " workers", nginxAllCss);
    if (veskCss && nginxOneCss && nginxOneCss->requestsPerSecond > 0)
        std::printf("requests/s vs nginx (1 worker): %.2fx (target >= 1)\n", veskCss->requestsPerSecond / nginxOneCss->requestsPerSecond);

    std::printf("\n1 GiB download to nowhere\n");
    std::printf("%-30s %10.0f MB/s%s\n", "vesk /getFile?type=raw", megabytesPerSecond(veskDownload), veskDownload.complete ? "" : " (incomplete)");
    std::printf("%-30s %10.0f MB/s%s\n", "nginx", megabytesPerSecond(nginxDownload), nginxDownload.complete ? "" : " (incomplete)");
    if (megabytesPerSecond(nginxDownload) > 0)
        std::printf("download vs nginx: %.2fx (target >= 0.8)\n", megabytesPerSecond(veskDownload) / megabytesPerSecond(nginxDownload));
    std::printf("vesk resident memory: %.1f MB before, %.1f MB at peak, growth %.1f MB (target < 64)\n", rssBefore / 1024.0,
        rssPeak / 1024.0, (rssPeak - rssBefore) / 1024.0);
    fs::remove_all(folder);
    return 0;
}
