// Serves a 1 GB file through the file handler by byte ranges, once as one range
// and once as four ranges fetched at the same time, and prints how far the
// process's resident memory grew above where it stood before. The target is
// growth of at most 16 MB; the program exits with 1 when it is missed.

#include "common/BenchPeers.h"
#include "http/HttpHandlers.h"

#include <chrono>
#include <cstdio>
#include <fcntl.h>
#include <fstream>
#include <string>
#include <thread>
#include <unistd.h>
#include <vector>

using namespace vesk;
using namespace vesk::bench;

namespace {

constexpr uint64_t fileSize = 1ull << 30;

// Asks for one range and reads the answer into a small buffer; the body bytes counted.
uint64_t fetchRange(uint16_t port, uint64_t first, uint64_t last)
{
    int fd = connectTo(port);
    if (fd < 0)
        return 0;
    std::string request = "GET /files/big.bin HTTP/1.1\r\nRange: bytes=" + std::to_string(first) + "-" + std::to_string(last) + "\r\n\r\n";
    if (::write(fd, request.data(), request.size()) != static_cast<ssize_t>(request.size())) {
        ::close(fd);
        return 0;
    }
    std::string head;
    uint64_t body = 0;
    char buffer[64 * 1024];
    for (ssize_t count; (count = ::read(fd, buffer, sizeof buffer)) > 0;) {
        if (head.size() < 4 || !head.ends_with("\r\n\r\n")) {
            head.append(buffer, static_cast<size_t>(count));
            size_t end = head.find("\r\n\r\n");
            if (end != std::string::npos) {
                body += head.size() - end - 4;
                head.resize(end + 4);
            }
        } else {
            body += static_cast<uint64_t>(count);
        }
    }
    ::close(fd);
    return head.starts_with("HTTP/1.1 206 ") ? body : 0;
}

} // namespace

int main()
{
    fs::path folder = makeServedFolder("vesk-bench-handlers");
    if (folder.empty())
        return 1;
    // Sparse: the page cache, not this process, holds what is read.
    {
        std::ofstream(folder / "www" / "big.bin");
        fs::resize_file(folder / "www" / "big.bin", fileSize);
    }
    // Read once, so that both runs find the file in the page cache.
    {
        std::ifstream warm(folder / "www" / "big.bin", std::ios::binary);
        std::vector<char> buffer(1 << 20);
        while (warm.read(buffer.data(), static_cast<std::streamsize>(buffer.size()))) { }
    }
    std::fflush(stdout);
    int table = ::dup(STDOUT_FILENO);
    int null = ::open("/dev/null", O_WRONLY);
    ::dup2(null, STDOUT_FILENO);
    ::close(null);

    HttpServer server;
    server.registerHandler("/files/(.+)", HttpHandlers::makeFileHandler((folder / "www").string()));
    server.start(0, "127.0.0.1");
    uint16_t port = server.port();

    long before = statusKilobytes(::getpid(), "VmRSS");
    // Writing 5 resets the peak to the current figure.
    std::ofstream("/proc/self/clear_refs") << "5";
    auto started = std::chrono::steady_clock::now();
    uint64_t whole = fetchRange(port, 0, fileSize - 1);
    double oneSeconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();

    started = std::chrono::steady_clock::now();
    std::vector<uint64_t> quarters(4);
    std::vector<std::thread> readers;
    for (uint64_t index = 0; index < 4; ++index)
        readers.emplace_back([&, index] { quarters[index] = fetchRange(port, index * fileSize / 4, (index + 1) * fileSize / 4 - 1); });
    for (auto& reader : readers)
        reader.join();
    double fourSeconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
    long peak = statusKilobytes(::getpid(), "VmHWM");
    server.stop();
    fs::remove_all(folder);

    uint64_t fourTotal = quarters[0] + quarters[1] + quarters[2] + quarters[3];
    double growthMegabytes = static_cast<double>(peak - before) / 1024;
    bool complete = whole == fileSize && fourTotal == fileSize;
    bool withinTarget = complete && before >= 0 && peak >= 0 && growthMegabytes <= 16;
    ::dup2(table, STDOUT_FILENO);
    std::printf("1 GB as one range:     %s, %.0f MB/s\n", whole == fileSize ? "complete" : "INCOMPLETE", 1024 / oneSeconds);
    std::printf("1 GB as four ranges:   %s, %.0f MB/s\n", fourTotal == fileSize ? "complete" : "INCOMPLETE", 1024 / fourSeconds);
    std::printf("resident memory growth: %.1f MB (target at most 16 MB): %s\n", growthMegabytes, withinTarget ? "met" : "MISSED");
    return withinTarget ? 0 : 1;
}
