// Renders the folder icon and a file-type icon 1,000 times each and reports icons per second.
#include "assets/VeskAssets.h"

#include "platform/graphics/UIScreen.h"

#include <benchmark/benchmark.h>

namespace {

using vesk::VeskAssets;

void reportRate(benchmark::State& state)
{
    state.SetItemsProcessed(state.iterations());
    state.counters["icons/s"] = benchmark::Counter(double(state.iterations()), benchmark::Counter::kIsRate);
}

void FolderIcon(benchmark::State& state)
{
    vesk::platform::UIScreen::mainScreen().setScale(double(state.range(0)));
    auto color = VeskAssets::flatRed();
    for (auto _ : state)
        benchmark::DoNotOptimize(VeskAssets::imageOfFolderIconWithFileFillColor(color));
    reportRate(state);
}
BENCHMARK(FolderIcon)->Arg(2)->Arg(3)->Iterations(1000)->Unit(benchmark::kMicrosecond);

void FileIconWithSuffix(benchmark::State& state)
{
    vesk::platform::UIScreen::mainScreen().setScale(double(state.range(0)));
    auto color = VeskAssets::pdfColor();
    for (auto _ : state)
        benchmark::DoNotOptimize(VeskAssets::imageOfFileIconWithFileFillColor(color, "pdf"));
    reportRate(state);
}
BENCHMARK(FileIconWithSuffix)->Arg(2)->Arg(3)->Iterations(1000)->Unit(benchmark::kMicrosecond);

void ExecutableIcon(benchmark::State& state)
{
    vesk::platform::UIScreen::mainScreen().setScale(2);
    auto color = VeskAssets::flatGreen();
    for (auto _ : state)
        benchmark::DoNotOptimize(VeskAssets::imageOfExecutableIconWithFileFillColor(color));
    reportRate(state);
}
BENCHMARK(ExecutableIcon)->Iterations(1000)->Unit(benchmark::kMicrosecond);

}

BENCHMARK_MAIN();
