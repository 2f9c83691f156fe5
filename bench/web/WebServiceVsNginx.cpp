// The `vesk` program's web file service beside nginx with a worker per core on 127.0.0.1, in
// one run; each comparison takes the servers in turn for VESK_BENCH_ROUNDS rounds (default 5)
// and prints the ratios' min/median/max:
//  - cold start: from launching the program to its first 200 answer;
//  - resident memory after 30 listings of a folder of 100,000 entries, against its value at start;
//  - the same 1 KB file from disk, vesk through "/getFile?path=...&type=raw", nginx as a static
//    file: wrk with keep-alive at 32 and 256 connections, without a Connection header at 256
//    (nginx with "Connection: close"), with "Connection: close" at 32 and 256;
//  - futex calls per keep-alive request and per new connection, from strace -c -f over 3 s;
//  - a 1 GiB download through "/getFile?type=raw" and through nginx, and vesk's memory during it;
//  - vesk under load with 5,000 idle and 500 slowloris connections held open, and 32 Base64
//    answers of a 32 MiB file at once.
// VESK_BENCH_SECONDS sets each wrk run's length (default 10). The figures are only as steady as
// the machine: other work on it shows in the spread.

#include "common/BenchPeers.h"

#include <atomic>
#include <cctype>
#include <functional>
#include <memory>
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

int rounds()
{
    const char* text = std::getenv("VESK_BENCH_ROUNDS");
    return text ? std::max(1, std::atoi(text)) : 5;
}

// Milliseconds from launching a server to its first 200 answer for the target; -1 if none came within 10 s.
double coldStart(const std::function<std::unique_ptr<Child>()>& launch, std::uint16_t port, const std::string& target)
{
    std::string request = "GET " + target + " HTTP/1.1\r\nHost: 127.0.0.1\r\nConnection: close\r\n\r\n";
    auto began = std::chrono::steady_clock::now();
    auto child = launch();
    while (secondsSince(began) < 10) {
        int fd = connectTo(port);
        if (fd >= 0) {
            char status[12] = {};
            bool answered = ::send(fd, request.data(), request.size(), MSG_NOSIGNAL) == static_cast<ssize_t>(request.size())
                && ::recv(fd, status, sizeof status, MSG_WAITALL) == static_cast<ssize_t>(sizeof status)
                && std::string(status, sizeof status) == "HTTP/1.1 200";
            ::close(fd);
            if (answered)
                return secondsSince(began) * 1000;
        }
        std::this_thread::sleep_for(std::chrono::microseconds(200));
    }
    return -1;
}

// The calls strace -c -f counted of one process while wrk ran against it, per request.
struct Traced {
    double futexPerRequest { -1 };
    double acceptPerRequest { -1 };
    double requests { 0 };
};

Traced traceCalls(pid_t pid, std::uint16_t port, const std::string& target, ConnectionHeader header, const fs::path& folder)
{
    fs::path report = folder / "strace.txt";
    Child strace({ "strace", "-f", "-c", "-e", "trace=futex,accept,accept4", "-o", report.string(), "-p", std::to_string(pid) });
    // Every thread attached before the load begins.
    std::this_thread::sleep_for(std::chrono::milliseconds(500));
    auto figures = runWrk(port, target, 3, 32, header);
    strace.stop(SIGINT);
    Traced traced;
    if (!figures || figures->requests <= 0)
        return traced;
    traced.requests = figures->requests;
    double futex = 0, accepts = 0;
    std::ifstream lines(report);
    for (std::string line; std::getline(lines, line);) {
        // "% time  seconds  usecs/call  calls  [errors]  syscall"
        std::istringstream words(line);
        std::vector<std::string> fields;
        for (std::string word; words >> word;)
            fields.push_back(word);
        if (fields.size() < 5 || !std::isdigit(static_cast<unsigned char>(fields[3][0])))
            continue;
        if (fields.back() == "futex")
            futex = std::stod(fields[3]);
        else if (fields.back().starts_with("accept"))
            accepts += std::stod(fields[3]);
    }
    traced.futexPerRequest = futex / figures->requests;
    traced.acceptPerRequest = accepts / figures->requests;
    return traced;
}

void showSpread(const char* what, std::vector<double> values, const char* target)
{
    auto s = spread(std::move(values));
    std::printf("  %s %.2f/%.2f/%.2fx (min/median/max) %s\n", what, s.low, s.middle, s.high, target);
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
    int roundCount = rounds();
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
    auto launchVesk = [&](std::uint16_t port) {
        return std::make_unique<Child>(std::vector<std::string> { program, "--quick-action", "fileserver" },
            std::vector<std::pair<std::string, std::string>> { { "VESK_HOME", (folder / "home").string() }, { "VESK_WIFI_INTERFACE", "lo" },
                { "VESK_PORT", std::to_string(port) }, { "VESK_BUNDLE", bundle } });
    };
    std::string fileTarget = "/getFile?path=" + (folder / "www" / "1k.bin").string() + "&type=raw";
    std::printf("vesk and nginx with %u workers; %d rounds taking the servers in turn; other work on the machine shows in the spread\n", cores, roundCount);

    {
        // The first launch of each makes what later ones find (vesk's home, nginx's folders) and is not counted.
        std::vector<double> veskTimes, nginxTimes, ratios;
        for (int round = -1; round < roundCount; ++round) {
            std::uint16_t veskPort = freeLoopbackPort();
            double ours = coldStart([&] { return launchVesk(veskPort); }, veskPort, fileTarget);
            std::uint16_t nginxPort = freeLoopbackPort();
            double theirs = coldStart([&] { return std::make_unique<Child>(Nginx::arguments(folder, cores, nginxPort)); }, nginxPort, "/1k.bin");
            if (round < 0)
                continue;
            veskTimes.push_back(ours);
            nginxTimes.push_back(theirs);
            ratios.push_back(theirs > 0 && ours > 0 ? ours / theirs : 0);
        }
        std::printf("\ncold start to the first 200 answer (medians): vesk %.1f ms, nginx %.1f ms\n", median(veskTimes), median(nginxTimes));
        showSpread("vesk / nginx:", ratios, "(target <= 2)");
    }

    std::uint16_t veskPort = freeLoopbackPort();
    auto vesk = launchVesk(veskPort);
    if (!waitForListening(veskPort)) {
        std::cerr << "vesk did not start\n";
        return 1;
    }
    {
        download(veskPort, fileTarget);
        long atStart = statusKilobytes(vesk->pid(), "VmRSS");
        std::vector<double> times;
        bool complete = true;
        for (int listing = 0; listing < 30; ++listing) {
            auto answer = download(veskPort, "/getFile?path=" + many.string());
            complete = complete && answer.complete;
            times.push_back(answer.seconds);
        }
        // A moment for whatever finishes after the last answer.
        std::this_thread::sleep_for(std::chrono::milliseconds(200));
        long after = statusKilobytes(vesk->pid(), "VmRSS");
        std::printf("\n30 listings of a folder of 100,000 entries%s: %.0f ms each (median); vesk resident memory %.1f MB at start,"
                    " %.1f MB after: %+.1f MB (target within 15)\n",
            complete ? "" : " (incomplete)", median(times) * 1000, atStart / 1024.0, after / 1024.0, (after - atStart) / 1024.0);
    }

    Nginx nginx(folder, cores);
    std::printf("\nThe web file service and nginx with %u workers, each serving a 1 KB file from disk\n", cores);
    compareInRounds({ { "vesk", veskPort, fileTarget, [&] { return cpuSeconds(vesk->pid()); } },
                        { "nginx, " + std::to_string(cores) + " workers", nginx.port(), "/1k.bin", [&] { return cpuSeconds(nginx.pid()); } } },
        roundCount, seconds);

    {
        auto kept = traceCalls(vesk->pid(), veskPort, fileTarget, ConnectionHeader::KeepAlive, folder);
        auto fresh = traceCalls(vesk->pid(), veskPort, fileTarget, ConnectionHeader::None, folder);
        std::printf("\nstrace -c -f over a 3 s wrk run at 32 connections: futex calls %.3f per keep-alive request, %.3f per new connection"
                    " (target <= 0.1 each); accept calls %.2f per new connection\n",
            kept.futexPerRequest, fresh.futexPerRequest, fresh.acceptPerRequest);
    }

    {
        long before = statusKilobytes(vesk->pid(), "VmRSS");
        resetPeakMemory(vesk->pid());
        std::vector<double> veskRates, nginxRates, ratios;
        bool complete = true;
        auto rate = [&](const Download& one) {
            complete = complete && one.complete;
            return one.seconds > 0 ? one.bytes / 1e6 / one.seconds : 0;
        };
        // Read once first, so that neither server pays for pages the page cache has let go since.
        download(nginx.port(), "/big.bin");
        for (int round = 0; round < roundCount; ++round) {
            double ours = 0, theirs = 0;
            for (int turn = 0; turn < 2; ++turn) {
                if ((turn == 0) == (round % 2 == 0))
                    ours = rate(download(veskPort, "/getFile?path=" + big.string() + "&type=raw"));
                else
                    theirs = rate(download(nginx.port(), "/big.bin"));
            }
            veskRates.push_back(ours);
            nginxRates.push_back(theirs);
            ratios.push_back(theirs > 0 ? ours / theirs : 0);
        }
        long peak = statusKilobytes(vesk->pid(), "VmHWM");
        std::printf("\n1 GiB download to nowhere (medians): vesk %.0f MB/s, nginx %.0f MB/s%s; vesk memory growth %.1f MB (target < 64)\n",
            median(veskRates), median(nginxRates), complete ? "" : " (incomplete)", (peak - before) / 1024.0);
        showSpread("vesk / nginx:", ratios, "(target: median >= 0.95)");
    }

    {
        auto alone = runWrk(veskPort, fileTarget, seconds, 32, true);
        long memoryBefore = statusKilobytes(vesk->pid(), "VmRSS");
        HeldConnections held(veskPort, 5000, 500);
        long memoryHolding = statusKilobytes(vesk->pid(), "VmRSS");
        auto loaded = runWrk(veskPort, fileTarget, seconds, 32, true);
        std::printf("\nkeep-alive, 32 connections, with %zu connections held (5,000 idle, 500 slowloris)\n", held.count());
        if (alone && loaded && alone->requestsPerSecond > 0)
            std::printf("  requests/s %.0f alone, %.0f held: %.2fx (target >= 0.8)\n", alone->requestsPerSecond, loaded->requestsPerSecond,
                loaded->requestsPerSecond / alone->requestsPerSecond);
        std::printf("  still open after the run: %zu of %zu (target: all); vesk memory %.1f MB more while holding them\n", held.stillOpen(),
            held.count(), (memoryHolding - memoryBefore) / 1024.0);
    }

    {
        long before = statusKilobytes(vesk->pid(), "VmRSS");
        resetPeakMemory(vesk->pid());
        std::vector<std::thread> clients;
        std::atomic<int> complete { 0 };
        auto began = std::chrono::steady_clock::now();
        for (int index = 0; index < 32; ++index)
            clients.emplace_back([&] { complete += download(veskPort, "/getFile?path=" + base64File.string() + "&type=base64").complete; });
        for (auto& client : clients)
            client.join();
        std::printf("\n32 Base64 answers of a 32 MiB file at once: %d complete in %.1f s; vesk memory %.0f MB before, %.0f MB at peak"
                    " (target < 1024)\n",
            complete.load(), secondsSince(began), before / 1024.0, statusKilobytes(vesk->pid(), "VmHWM") / 1024.0);
    }
    vesk.reset();
    fs::remove_all(folder);
    return 0;
}
