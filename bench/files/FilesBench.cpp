// Lists a folder of 10,000 files through getFiles and times `ls -la` on the same folder in
// the same run. Target: getFiles no slower than `ls -la`. Both the wall time and the CPU time
// (ours, or the ls child's) are compared, medians of several repetitions, since wall times
// swing on a busy machine.

#include "model/SettingsKeys.h"
#include "model/VeskFile.h"
#include "model/VeskFileManager.h"
#include "platform/foundation/NSFileManager.h"
#include "platform/foundation/NSUserDefaults.h"

#include <benchmark/benchmark.h>

#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <fcntl.h>
#include <map>
#include <spawn.h>
#include <string>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

extern char** environ;

namespace {

constexpr int fileCount = 10'000;
std::string folder;

void makeFolder(const std::string& root)
{
    folder = root + "/files";
    ::mkdir(folder.c_str(), 0755);
    for (int i = 0; i < fileCount; ++i) {
        char name[32];
        std::snprintf(name, sizeof name, "/file%05d.txt", i);
        int fd = ::open((folder + name).c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        if (fd < 0 || ::write(fd, name, 12) != 12) {
            std::perror("making the folder");
            std::exit(1);
        }
        ::close(fd);
    }
}

double processCpuMilliseconds()
{
    timespec now {};
    ::clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &now);
    return static_cast<double>(now.tv_sec) * 1e3 + static_cast<double>(now.tv_nsec) / 1e6;
}

double milliseconds(const timeval& time)
{
    return static_cast<double>(time.tv_sec) * 1e3 + static_cast<double>(time.tv_usec) / 1e3;
}

void BM_getFiles(benchmark::State& state)
{
    vesk::platform::NSUserDefaults::standardUserDefaults()->setBool(state.range(0) != 0, vesk::hashedDefaultsKey2());
    vesk::VeskFileManager fm;
    double cpu = 0;
    for (auto _ : state) {
        double start = processCpuMilliseconds();
        auto files = fm.getFiles(folder);
        cpu += processCpuMilliseconds() - start;
        if (files.size() != fileCount)
            state.SkipWithError("wrong count");
        benchmark::DoNotOptimize(files);
    }
    state.counters["cpu_ms"] = benchmark::Counter(cpu, benchmark::Counter::kAvgIterations);
}
BENCHMARK(BM_getFiles)->ArgName("hidden")->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond)->UseRealTime()->Repetitions(5);

void BM_lsLa(benchmark::State& state)
{
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, "/dev/null", O_WRONLY, 0);
    std::string target = folder;
    char* argv[] = { const_cast<char*>("ls"), const_cast<char*>("-la"), target.data(), nullptr };
    double cpu = 0;
    for (auto _ : state) {
        pid_t child = 0;
        if (posix_spawnp(&child, "ls", &actions, nullptr, argv, environ) != 0) {
            state.SkipWithError("ls did not start");
            break;
        }
        int status = 0;
        rusage usage {};
        ::wait4(child, &status, 0, &usage);
        cpu += milliseconds(usage.ru_utime) + milliseconds(usage.ru_stime);
        if (!WIFEXITED(status) || WEXITSTATUS(status) != 0)
            state.SkipWithError("ls failed");
    }
    posix_spawn_file_actions_destroy(&actions);
    state.counters["cpu_ms"] = benchmark::Counter(cpu, benchmark::Counter::kAvgIterations);
}
BENCHMARK(BM_lsLa)->Unit(benchmark::kMillisecond)->UseRealTime()->Repetitions(5);

// Keeps the medians of each benchmark for the ratios at the end.
class RecordingReporter : public benchmark::ConsoleReporter {
public:
    struct Figures {
        double wallMs = 0;
        double cpuMs = 0;
    };

    RecordingReporter()
        : ConsoleReporter(OO_Tabular)
    {
    }

    void ReportRuns(const std::vector<Run>& runs) override
    {
        for (auto const& run : runs) {
            if (run.run_type != Run::RT_Aggregate || run.aggregate_name != "median" || run.error_occurred)
                continue;
            auto counter = run.counters.find("cpu_ms");
            figures[run.run_name.function_name + (run.run_name.args.empty() ? "" : "/" + run.run_name.args)] = { run.GetAdjustedRealTime(), counter == run.counters.end() ? 0 : double(counter->second) };
        }
        ConsoleReporter::ReportRuns(runs);
    }

    std::map<std::string, Figures> figures;
};

}

int main(int argc, char** argv)
{
    char pattern[] = "/tmp/vesk-files-bench-XXXXXX";
    if (!::mkdtemp(pattern)) {
        std::perror("mkdtemp");
        return 1;
    }
    std::string root = pattern;
    ::setenv("VESK_HOME", (root + "/home").c_str(), 1);
    ::setenv("LC_ALL", "C", 1); // ls at its fastest: plain byte order, no locale collation
    makeFolder(root);

    benchmark::Initialize(&argc, argv);
    RecordingReporter reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);
    benchmark::Shutdown();

    auto ls = reporter.figures.find("BM_lsLa");
    for (auto const& [name, ours] : reporter.figures) {
        if (!name.starts_with("BM_getFiles") || ls == reporter.figures.end())
            continue;
        std::printf("%s: wall %.1f ms, cpu %.1f ms | ls -la: wall %.1f ms, cpu %.1f ms | getFiles / ls -la: wall %.2f, cpu %.2f\n",
            name.c_str(), ours.wallMs, ours.cpuMs, ls->second.wallMs, ls->second.cpuMs, ours.wallMs / ls->second.wallMs,
            ours.cpuMs / ls->second.cpuMs);
    }
    vesk::platform::NSFileManager::defaultManager().removeItemAtPath(root);
    return 0;
}
