// The `vesk` program's web file service beside nginx on 127.0.0.1, in one run:
//  - the same 1 KB file from disk, vesk through "/getFile?path=...&type=raw", nginx (one
//    worker, then one per core) as a static file: wrk with keep-alive and "Connection: close",
//    32 and 256 connections, three rounds taking the servers in turn;
//  - vesk under load: the same wrk run with 5,000 idle and 500 slowloris connections held open;
//  - "/getFileInfo" of a folder of 100,000 entries against `ls -la` of it, and vesk's memory;
//  - 32 Base64 answers of a 32 MiB file at once, and vesk's peak memory;
//  - a 1 GiB download through "/getFile?type=raw" and through nginx, and vesk's memory during it.
// VESK_BENCH_SECONDS sets each wrk run's length (default 10).

#include "common/BenchPeers.h"

#include <atomic>
#include <poll.h>
#include <sys/stat.h>

using namespace vesk::bench;

namespace {

constexpr std::uint64_t downloadBytes = 1ull << 30;

double secondsSince(std::chrono::steady_clock::time_point start)
{
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

// One GET on a connection of its own, read to the end of its body: the body's size and seconds taken.
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
    result.seconds = secondsSince(began);
    result.complete = length && result.bytes == *length;
    ::close(fd);
    return result;
}

void writeFile(const fs::path& path, std::uint64_t size)
{
    // Real bytes on disk, so that both servers read the same page-cache contents.
    std::ofstream out(path, std::ios::binary);
    std::vector<char> block(1 << 20);
    for (size_t i = 0; i < block.size(); ++i)
        block[i] = static_cast<char>((i * 2654435761u) >> 13);
    for (std::uint64_t written = 0; written < size; written += block.size())
        out.write(block.data(), static_cast<std::streamsize>(std::min<std::uint64_t>(block.size(), size - written)));
}

double median(std::vector<double> values)
{
    return spread(std::move(values)).middle;
}

// 5,000 connections that send nothing and 500 that send a head a byte a second.
class HeldConnections {
public:
    HeldConnections(std::uint16_t port, int idle, int slow)
    {
        for (int index = 0; index < idle + slow; ++index) {
            int fd = connectTo(port);
            if (fd < 0)
                break;
            m_all.push_back(fd);
            if (index >= idle) {
                m_slow.push_back(fd);
                std::string start = "GET / HTTP/1.1\r\nX-Slow: ";
                ::send(fd, start.data(), start.size(), MSG_NOSIGNAL);
            }
        }
        m_dribbler = std::thread([this] {
            while (!m_done) {
                for (int fd : m_slow)
                    ::send(fd, "a", 1, MSG_NOSIGNAL | MSG_DONTWAIT);
                for (int tenth = 0; tenth < 10 && !m_done; ++tenth)
                    std::this_thread::sleep_for(std::chrono::milliseconds(100));
            }
        });
    }
    ~HeldConnections()
    {
        m_done = true;
        m_dribbler.join();
        for (int fd : m_all)
            ::close(fd);
    }
    size_t count() const { return m_all.size(); }
    // Those the server has not closed.
    size_t stillOpen() const
    {
        size_t open = 0;
        for (int fd : m_all) {
            pollfd waited { fd, POLLIN, 0 };
            char byte;
            bool closed = ::poll(&waited, 1, 0) > 0 && ::recv(fd, &byte, 1, MSG_PEEK | MSG_DONTWAIT) <= 0;
            open += !closed;
        }
        return open;
    }

private:
    std::vector<int> m_all, m_slow;
    std::atomic<bool> m_done { false };
    std::thread m_dribbler;
};

}

int main()
{
    int seconds = runSeconds();
    unsigned cores = std::max(1u, std::thread::hardware_concurrency());
    raiseDescriptorLimit();

    fs::path folder = makeServedFolder("vesk-bench-web");
    if (folder.empty())
        return 1;
    std::ofstream(folder / "www" / "1k.bin") << std::string(1024, 'v');
    fs::path big = folder / "www" / "big.bin";
    writeFile(big, downloadBytes);
    fs::path base64File = folder / "base64.bin";
    writeFile(base64File, 32 << 20);
    fs::path many = folder / "many";
    fs::create_directories(many);
    for (int index = 0; index < 100000; ++index)
        std::ofstream(many / ("entry-" + std::to_string(index)));

    // Another build of the program may be measured in its place (VESK_BENCH_PROGRAM, with its bundle in VESK_BUNDLE).
    const char* program = std::getenv("VESK_BENCH_PROGRAM") ? std::getenv("VESK_BENCH_PROGRAM") : VESK_PROGRAM;
    const char* bundle = std::getenv("VESK_BUNDLE") ? std::getenv("VESK_BUNDLE") : VESK_BUNDLE_DIR;
    std::uint16_t veskPort = freeLoopbackPort();
    Child vesk({ program, "--quick-action", "fileserver" },
        { { "VESK_HOME", (folder / "home").string() }, { "VESK_WIFI_INTERFACE", "lo" }, { "VESK_PORT", std::to_string(veskPort) },
            { "VESK_BUNDLE", bundle } });
    if (!waitForListening(veskPort)) {
        std::cerr << "vesk did not start\n";
        return 1;
    }
    std::string fileTarget = "/getFile?path=" + (folder / "www" / "1k.bin").string() + "&type=raw";
    {
        Nginx nginxOne(folder, 1);
        Nginx nginxAll(folder, cores);
        std::printf("The web file service and nginx, each serving a 1 KB file from disk\n");
        compareInRounds({ { "vesk", veskPort, fileTarget, [&] { return cpuSeconds(vesk.pid()); } },
                            { "nginx, 1 worker", nginxOne.port(), "/1k.bin", [&] { return cpuSeconds(nginxOne.pid()); } },
                            { "nginx, " + std::to_string(cores) + " workers", nginxAll.port(), "/1k.bin", [&] { return cpuSeconds(nginxAll.pid()); } } },
            3, seconds);
    }

    {
        auto alone = runWrk(veskPort, fileTarget, seconds, 32, true);
        long memoryBefore = statusKilobytes(vesk.pid(), "VmRSS");
        HeldConnections held(veskPort, 5000, 500);
        long memoryHolding = statusKilobytes(vesk.pid(), "VmRSS");
        auto loaded = runWrk(veskPort, fileTarget, seconds, 32, true);
        std::printf("\nkeep-alive, 32 connections, with %zu connections held (5,000 idle, 500 slowloris)\n", held.count());
        if (alone && loaded && alone->requestsPerSecond > 0)
            std::printf("  requests/s %.0f alone, %.0f held: %.2fx (target >= 0.8)\n", alone->requestsPerSecond, loaded->requestsPerSecond,
                loaded->requestsPerSecond / alone->requestsPerSecond);
        std::printf("  still open after the run: %zu of %zu (target: all); vesk memory %.1f MB more while holding them\n", held.stillOpen(),
            held.count(), (memoryHolding - memoryBefore) / 1024.0);
    }

    {
        std::vector<double> lsTimes, infoTimes;
        long growth = 0;
        for (int round = 0; round < 3; ++round) {
            auto began = std::chrono::steady_clock::now();
            std::string command = "ls -la '" + many.string() + "' > /dev/null";
            if (std::system(command.c_str()) != 0)
                std::cerr << "ls failed\n";
            lsTimes.push_back(secondsSince(began));
            long before = statusKilobytes(vesk.pid(), "VmRSS");
            resetPeakMemory(vesk.pid());
            auto answer = download(veskPort, "/getFileInfo?path=" + many.string());
            infoTimes.push_back(answer.seconds);
            growth = std::max(growth, statusKilobytes(vesk.pid(), "VmHWM") - before);
        }
        std::printf("\n/getFileInfo of a folder of 100,000 entries: %.1f ms, ls -la: %.1f ms (medians of 3): %.2fx (target <= 0.25);"
                    " vesk memory growth %.1f MB (target < 10)\n",
            median(infoTimes) * 1000, median(lsTimes) * 1000, median(infoTimes) / median(lsTimes), growth / 1024.0);
    }

    {
        long before = statusKilobytes(vesk.pid(), "VmRSS");
        resetPeakMemory(vesk.pid());
        std::vector<std::thread> clients;
        std::atomic<int> complete { 0 };
        auto began = std::chrono::steady_clock::now();
        for (int index = 0; index < 32; ++index)
            clients.emplace_back([&] { complete += download(veskPort, "/getFile?path=" + base64File.string() + "&type=base64").complete; });
        for (auto& client : clients)
            client.join();
        std::printf("\n32 Base64 answers of a 32 MiB file at once: %d complete in %.1f s; vesk memory %.0f MB before, %.0f MB at peak"
                    " (target < 1024)\n",
            complete.load(), secondsSince(began), before / 1024.0, statusKilobytes(vesk.pid(), "VmHWM") / 1024.0);
    }

    {
        // Three rounds taking the servers in turn; the medians count.
        Nginx nginx(folder, 1);
        long before = statusKilobytes(vesk.pid(), "VmRSS");
        resetPeakMemory(vesk.pid());
        std::vector<double> veskRates, nginxRates;
        bool complete = true;
        auto rate = [&](const Download& one) {
            complete = complete && one.complete;
            return one.seconds > 0 ? one.bytes / 1e6 / one.seconds : 0;
        };
        for (int round = 0; round < 3; ++round) {
            veskRates.push_back(rate(download(veskPort, "/getFile?path=" + big.string() + "&type=raw")));
            nginxRates.push_back(rate(download(nginx.port(), "/big.bin")));
        }
        long peak = statusKilobytes(vesk.pid(), "VmHWM");
        std::printf("\n1 GiB download to nowhere (medians of 3): vesk %.0f MB/s, nginx %.0f MB/s: %.2fx (target >= 0.8)%s;"
                    " vesk memory growth %.1f MB (target < 64)\n",
            median(veskRates), median(nginxRates), median(veskRates) / std::max(median(nginxRates), 1e-9), complete ? "" : " (incomplete)",
            (peak - before) / 1024.0);
    }
    fs::remove_all(folder);
    return 0;
}
