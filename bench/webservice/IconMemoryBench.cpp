// Asks the icon route for the icon of a 8,192 x 8,192 PNG (a few hundred kilobytes on disk,
// 256 MiB once decoded) 50 times at once and prints the process's peak resident memory. The
// target is a peak under 300 MB; the program exits with 1 when it is missed.
//
// RelWithDebInfo, on a shared 8-core machine: decoding every such picture for its icon (two
// at a time) peaked at 1,044 MB and took 37 s; refusing it by its declared size, 25 MB and 0.04 s.

#include "common/BenchPeers.h"
#include "http/HttpParser.h"
#include "webservice/VeskHTTPServer.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <thread>
#include <vector>
#include <unistd.h>
#include <zlib.h>

using namespace vesk;
using namespace vesk::bench;
namespace fs = std::filesystem;

namespace {

// Grey, eight bits a pixel, all black: the size of the file is what deflate leaves of it.
std::string blackPNG(uint32_t side)
{
    auto be = [](uLong n) { return std::string { char(n >> 24), char(n >> 16), char(n >> 8), char(n) }; };
    auto chunk = [&](const std::string& type, const std::string& data) {
        std::string body = type + data;
        return be(data.size()) + body + be(::crc32(0, reinterpret_cast<const Bytef*>(body.data()), static_cast<uInt>(body.size())));
    };
    std::string rows(size_t(side) * (side + 1), '\0'), packed(::compressBound(rows.size()), '\0');
    auto length = static_cast<uLongf>(packed.size());
    ::compress2(reinterpret_cast<Bytef*>(packed.data()), &length, reinterpret_cast<const Bytef*>(rows.data()), rows.size(), 9);
    std::string header = be(side) + be(side) + std::string("\x08\0\0\0\0", 5);
    return "\x89PNG\r\n\x1a\n" + chunk("IHDR", header) + chunk("IDAT", packed.substr(0, length)) + chunk("IEND", "");
}

}

int main()
{
    char pattern[] = "/tmp/vesk-bench-icons-XXXXXX";
    if (!::mkdtemp(pattern))
        return 1;
    fs::path folder = pattern;
    ::setenv("VESK_HOME", (folder / "home").c_str(), 1);
    auto picture = (folder / "huge.png").string();
    auto bytes = blackPNG(8192);
    std::ofstream(picture, std::ios::binary).write(bytes.data(), static_cast<std::streamsize>(bytes.size()));

    HttpRequest request;
    request.method = "GET";
    request.url = "/getIcon?path=" + picture + "&type=raw";
    request.urlParams = extractUrlParams(request.url);
    request.address = "127.0.0.1";
    auto& service = VeskHTTPServer::sharedInstance();
    service.getIcon(request); // the service's own set-up, outside the figure

    long before = statusKilobytes(::getpid(), "VmRSS");
    // Writing 5 resets the peak to the current figure, past the picture's making.
    std::ofstream("/proc/self/clear_refs") << "5";
    auto started = std::chrono::steady_clock::now();
    std::vector<int> statuses(50);
    std::vector<std::thread> clients;
    for (size_t index = 0; index < statuses.size(); ++index)
        clients.emplace_back([&, index] { statuses[index] = service.getIcon(request).statusCode(); });
    for (auto& client : clients)
        client.join();
    double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
    long peak = statusKilobytes(::getpid(), "VmHWM");
    fs::remove_all(folder);

    bool answered = std::all_of(statuses.begin(), statuses.end(), [](int status) { return status == 200; });
    double peakMegabytes = static_cast<double>(peak) / 1024;
    bool withinTarget = answered && before >= 0 && peak >= 0 && peakMegabytes < 300;
    std::printf("picture: %zu bytes, 8192 x 8192 pixels\n", bytes.size());
    std::printf("50 icons at once: %s in %.2f s\n", answered ? "all answered 200" : "NOT ALL ANSWERED", seconds);
    std::printf("resident before: %.1f MB, peak: %.1f MB (target under 300 MB): %s\n", static_cast<double>(before) / 1024, peakMegabytes, withinTarget ? "met" : "MISSED");
    return withinTarget ? 0 : 1;
}
