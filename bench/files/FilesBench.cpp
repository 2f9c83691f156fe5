// Lists a folder of 10,000 files through getFiles and times `ls -la` on the same folder in
// the same run. Target: getFiles no slower than `ls -la`.

#include "model/SettingsKeys.h"
#include "model/VeskFile.h"
#include "model/VeskFileManager.h"
#include "platform/foundation/NSFileManager.h"
#include "platform/foundation/NSUserDefaults.h"

#include <benchmark/benchmark.h>

#include <cstdio>
#include <cstdlib>
#include <fcntl.h>
#include <map>
#include <spawn.h>
#include <string>
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
        if (fd < 0) {
            std::perror("open");
            std::exit(1);
        }
        if (::write(fd, name, 12) != 12)
            std::exit(1);
        ::close(fd);
    }
}

void setHiddenFiles(bool on)
{
    vesk::platform::NSUserDefaults::standardUserDefaults()->setBool(on, vesk::hashedDefaultsKey2());
}

void BM_getFiles(benchmark::State& state)
{
    setHiddenFiles(state.range(0) != 0);
    vesk::VeskFileManager fm;
    for (auto _ : state) {
        auto files = fm.getFiles(folder);
        if (files.size() != fileCount)
            state.SkipWithError("wrong count");
        benchmark::DoNotOptimize(files);
    }
    state.SetItemsProcessed(state.iterations() * fileCount);
}
BENCHMARK(BM_getFiles)->ArgName("hidden")->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond)->UseRealTime();

void BM_lsLa(benchmark::State& state)
{
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, "/dev/null", O_WRONLY, 0);
    std::string target = folder;
    char* argv[] = { const_cast<char*>("ls"), const_cast<char*>("-la"), target.data(), nullptr };
    for (auto _ : state) {
        pid_t child = 0;
        if (posix_spawnp(&child, "ls", &actions, nullptr, argv, environ) != 0) {
            state.SkipWithError("ls did not start");
            break;
        }
        int status = 0;
        ::waitpid(child, &status, 0);
        if (!WIFEXITED(status) || WEXITSTATUS(status) != 0)
            state.SkipWithError("ls failed");
    }
    posix_spawn_file_actions_destroy(&actions);
    state.SetItemsProcessed(state.iterations() * fileCount);
}
BENCHMARK(BM_lsLa)->Unit(benchmark::kMillisecond)->UseRealTime();

// Keeps each benchmark's real time per iteration for the ratio at the end.
class RecordingReporter : public benchmark::ConsoleReporter {
public:
    RecordingReporter()
        : ConsoleReporter(OO_Tabular)
    {
    }

    void ReportRuns(const std::vector<Run>& runs) override
    {
        for (auto const& run : runs) {
            if (run.run_type == Run::RT_Iteration && !run.error_occurred)
                times[run.benchmark_name()] = run.GetAdjustedRealTime();
        }
        ConsoleReporter::ReportRuns(runs);
    }
    std::map<std::string, double> times;
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

    double ls = 0;
    for (auto const& [name, time] : reporter.times) {
        if (name.starts_with("BM_lsLa"))
            ls = time;
    }
    for (auto const& [name, time] : reporter.times) {
        if (name.starts_with("BM_getFiles") && ls > 0)
            std::printf("%s: %.2f ms, ls -la: %.2f ms, ratio getFiles / ls -la = %.2f\n", name.c_str(), time, ls, time / ls);
    }
    vesk::platform::NSFileManager::defaultManager().removeItemAtPath(root);
    return 0;
}
