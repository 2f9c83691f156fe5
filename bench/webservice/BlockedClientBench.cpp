// The `vesk` program with 127.0.0.1 on its blocked list, under 20 s of wrk (2 threads,
// 4 connections) from loopback: its resident memory before, during and 10 s after, and the CPU
// it spends per refusal beside the CPU per 404 of the same program without the block. Targets:
// growth under 10 MB, and a refusal costing no more CPU than a 404; exits with 1 when missed.
// VESK_BENCH_PROGRAM measures another build in place of this one (its bundle in VESK_BUNDLE).
//
// RelWithDebInfo, on a shared 8-core machine: when every refusal queued a 3-second banner and
// the banner manager kept every banner, 350,000 refusals took the program from 30 MB to 428 MB
// during the load and 529 MB 10 s after, at 112 us of CPU per refusal against 51 us per 404;
// with one banner per address at a time, 490,000 refusals: 30.3 MB, at most 31.0 MB, 31.0 MB
// after, at 48 us per refusal against 50 us per 404.

#include "BenchProgram.h"
#include "common/BenchPeers.h"
#include "model/SettingsKeys.h"
#include "platform/foundation/NSUserDefaults.h"

#include <atomic>
#include <future>

using namespace vesk;
using namespace vesk::bench;

namespace {

constexpr int loadSeconds = 20;
constexpr int restSeconds = 10;

double megabytes(long kilobytes)
{
    return static_cast<double>(kilobytes) / 1024;
}

// wrk -t2 -c4 on the program's "/nothing": the requests answered and the program's CPU seconds.
struct Load {
    double requests { 0 };
    double cpuSeconds { 0 };
};

Load load(const Program& program, int seconds)
{
    double before = cpuSeconds(program.pid());
    std::string command = "wrk -t2 -c4 -d" + std::to_string(seconds) + "s http://127.0.0.1:" + std::to_string(program.port()) + "/nothing 2>&1";
    Load result;
    if (FILE* pipe = ::popen(command.c_str(), "r")) {
        char line[512];
        while (std::fgets(line, sizeof line, pipe)) {
            double requests = 0;
            char word[32] = {};
            if (std::sscanf(line, " %lf requests in%31s", &requests, word) == 2)
                result.requests = requests;
        }
        ::pclose(pipe);
    }
    result.cpuSeconds = cpuSeconds(program.pid()) - before;
    return result;
}

std::size_t countLines(const fs::path& log, const std::string& text)
{
    std::ifstream file(log);
    std::size_t count = 0;
    for (std::string line; std::getline(file, line);)
        count += line.find(text) != std::string::npos;
    return count;
}

}

int main()
{
    auto folder = makeServedFolder("vesk-bench-blocked");
    if (folder.empty())
        return 1;
    // The blocked home's user defaults hold 127.0.0.1, written before the program reads them.
    ::setenv("VESK_HOME", (folder / "blocked").c_str(), 1);
    platform::NSUserDefaults::resetStandardUserDefaults();
    auto defaults = platform::NSUserDefaults::standardUserDefaults();
    defaults->setObject(platform::Value(platform::Dictionary { { "127.0.0.1", platform::Value("Bench") } }), hashedDefaultsKey8());
    defaults->synchronize();

    long before = 0, peak = 0, after = 0;
    Load refusals;
    std::size_t banners = 0;
    {
        fs::path log = folder / "blocked.log";
        Program blocked(folder / "blocked", log);
        if (!blocked.ready()) {
            std::fprintf(stderr, "the program did not start\n");
            return 1;
        }
        std::this_thread::sleep_for(std::chrono::seconds(1));
        before = blocked.residentKilobytes();
        auto running = std::async(std::launch::async, [&] { return load(blocked, loadSeconds); });
        while (running.wait_for(std::chrono::milliseconds(250)) != std::future_status::ready)
            peak = std::max(peak, blocked.residentKilobytes());
        refusals = running.get();
        std::this_thread::sleep_for(std::chrono::seconds(restSeconds));
        after = blocked.residentKilobytes();
        banners = countLines(log, "Blocked request from");
    }
    Load notFound;
    {
        Program open(folder / "open", folder / "open.log");
        if (!open.ready()) {
            std::fprintf(stderr, "the program did not start\n");
            return 1;
        }
        std::this_thread::sleep_for(std::chrono::seconds(1));
        notFound = load(open, loadSeconds);
    }
    fs::remove_all(folder);

    if (refusals.requests <= 0 || notFound.requests <= 0) {
        std::fprintf(stderr, "wrk answered nothing\n");
        return 1;
    }
    double growth = megabytes(std::max(peak, after) - before);
    double perRefusal = refusals.cpuSeconds * 1e6 / refusals.requests;
    double per404 = notFound.cpuSeconds * 1e6 / notFound.requests;
    bool memoryMet = growth < 10;
    bool cpuMet = perRefusal <= per404;
    std::printf("refused: %.0f requests in %d s from 127.0.0.1 (blocked); banners shown: %zu\n", refusals.requests, loadSeconds, banners);
    std::printf("resident: before %.1f MB, during at most %.1f MB, %d s after %.1f MB; growth %.1f MB (target under 10 MB): %s\n",
        megabytes(before), megabytes(peak), restSeconds, megabytes(after), growth, memoryMet ? "met" : "MISSED");
    std::printf("CPU per refusal: %.1f us; per 404 of the same program unblocked (%.0f requests): %.1f us (target: no more): %s\n",
        perRefusal, notFound.requests, per404, cpuMet ? "met" : "MISSED");
    return memoryMet && cpuMet ? 0 : 1;
}
