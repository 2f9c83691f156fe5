// Runs, in one go, the `vesk` program's web file service side by side with nginx on 127.0.0.1:
//  - wrk, 32 keep-alive connections, on "/main.css" (nginx with one worker, then one per core);
//  - a 1 GB download through "/getFile?path=...&type=raw" and through nginx, read to nowhere;
//  - the growth of vesk's resident memory during its download.
// VESK_BENCH_SECONDS sets each wrk run's length (default 10).

#include "common/BenchPeers.h"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <optional>
#include <string>
#include <sys/socket.h>
#include <thread>
#include <unistd.h>
#include <vector>

using namespace vesk::bench;
namespace fs = std::filesystem;

namespace {

constexpr std::uint64_t downloadBytes = 1ull << 30;

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
    int seconds = runSeconds();
    unsigned cores = std::max(1u, std::thread::hardware_concurrency());

    fs::path folder = makeServedFolder("vesk-bench-web");
    if (folder.empty())
        return 1;
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
        Nginx nginx(folder, 1, true);
        nginxOneCss = runWrk(nginx.port(), "/main.css", seconds);
        nginxDownload = download(nginx.port(), "/big.bin");
    }
    {
        Nginx nginx(folder, cores, true);
        nginxAllCss = runWrk(nginx.port(), "/main.css", seconds);
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
